// The program's arguments read into a request; nothing here writes or ends anything.
#pragma once

#include <string>
#include <vector>

namespace quil {

enum class Mode { dialogue, repair, in_place, check };

struct Request {
  Mode mode = Mode::dialogue;
  bool backup = true;
  bool force = false;  // replace an existing OUTPUT; repair a file of another format all the same
  bool quiet = false;  // no line per file; refusals and failures are still shown
  int jobs = 0;        // parts of a large file repaired at once; 0: as many as the machine runs at once
  bool options_given = false;
  bool dropped = false;  // files dropped on the program's own window: repaired in place, originals kept
  std::vector<std::string> names;
  std::vector<std::string> unmatched;  // patterns that name no file
};

struct ParsedArguments {
  enum class Kind { run, help, version, usage_error } kind = Kind::run;
  Request request;
  std::string error;  // for a usage error: what is wrong
};

// Reads the arguments after the program's name. May throw std::bad_alloc, nothing else.
ParsedArguments parse_arguments(int argc, const char* const* argv);

extern const char* const kUsage;
extern const char* const kHelp[];
extern const int kHelpLines;

}  // namespace quil
