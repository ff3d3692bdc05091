// The program's arguments read into a request; nothing here writes or ends anything.
#pragma once

#include <string>
#include <vector>

namespace quil {

enum class Mode { dialogue, repair, in_place, check };

struct Request {
  Mode mode = Mode::dialogue;
  bool backup = true;
  bool force = false;       // replace an existing OUTPUT; in place, part a file from its other links
  bool any_format = false;  // repair or check a file of another format all the same
  bool quiet = false;       // no line per file; refusals and failures are still shown
  int jobs = 0;             // parts of a large file repaired at once; 0: as many as the machine runs at once
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

// What reading the arguments asks of the system, which the caller answers: the parser itself touches
// nothing, so that a test gives it answers of its own.
struct SystemAnswers {
  // Calls take(name, context) for each name that `pattern` stands for where the system leaves its
  // wildcards to programs (else the pattern itself); returns how many.
  int (*expand_wildcards)(const char* pattern, void (*take)(const char*, void*), void* context);
  // Whether the program is alone on a console of its own (files dropped on its window).
  bool (*alone_on_own_console)();
  // Whether the name leads to a regular file.
  bool (*regular_file)(const char* name);
  bool slash_options;  // /? and /h are help too
};

// Reads the arguments after the program's name. May throw std::bad_alloc, nothing else.
ParsedArguments parse_arguments(int argc, const char* const* argv, const SystemAnswers& system);

extern const char* const kUsage;
extern const char* const kHelp[];
extern const int kHelpLines;

}  // namespace quil
