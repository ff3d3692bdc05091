#include "driver/file_plan.h"

#include "driver/replacement.h"
#include "driver/shown_name.h"
#include "driver/words.h"

namespace quil {
namespace {

using rtl::platform::NameKind;
using rtl::platform::SysError;

Stop stop(std::string line, Outcome outcome = Outcome::skipped) {
  return {true, outcome, true, std::move(line)};
}

// The last part of a name, after its folders.
std::string last_part(const std::string& name, bool slash_options) {
  return name.substr(rtl::platform::leaf_start(name, slash_options));
}

// Whether a name leads to a regular file.
bool names_a_file(const std::string& name, const PlanAnswers& system) {
  char target[rtl::platform::kLongestPath + 1];
  SysError error = 0;
  return system.name_kind(name.c_str(), target, sizeof target, &error) == NameKind::regular_file;
}

// Whether the folder that a name stands in exists (a name without a folder stands in this one).
bool folder_exists(const std::string& name, const PlanAnswers& system) {
  const std::size_t leaf = rtl::platform::leaf_start(name, system.slash_options);
  if (leaf <= 1) return true;
  char target[rtl::platform::kLongestPath + 1];
  SysError error = 0;
  return system.name_kind(name.substr(0, leaf - 1).c_str(), target, sizeof target, &error) ==
         NameKind::folder;
}

// Why the name before "skipped" may not be written: its permissions, or the system's words for another
// cause (a read-only file system).
Stop read_only(std::string line, SysError refusal) {
  return stop(line + (refusal != 0 ? system_words(refusal) : "it is read-only"));
}

// The input by its name: where it is read from, and why it is refused before it is opened, if it is.
void plan_input(FilePlan& p, const Request& r, const std::string& input, const PlanAnswers& system) {
  const std::string skipped = p.input + ": skipped: ";
  const Outcome refused = r.mode == Mode::check ? Outcome::unchecked : Outcome::skipped;
  char target[rtl::platform::kLongestPath + 1] = "";
  SysError error = 0;
  const NameKind kind =
      input == "-" ? NameKind::other : system.name_kind(input.c_str(), target, sizeof target, &error);
  if (kind == NameKind::folder) {
    p.before_opening = stop(skipped + "is a folder", refused);
    return;
  }
  if (r.mode != Mode::in_place) return;
  if (kind == NameKind::missing || kind == NameKind::dangling_link ||
      (kind == NameKind::other && error != 0)) {
    p.before_opening = stop(skipped + system_words(error));
    return;
  }
  if (kind == NameKind::other) {
    p.before_opening = stop(skipped + "not a regular file");
    return;
  }
  p.read_from = p.write_to = target;
  // A file that another program holds cannot take its place afterwards; asked before the file is opened,
  // whose own handle would hold it too. One this user may not open says so in the system's words when it
  // is opened, before it is named read-only.
  if (SysError refusal = 0; !system.writable_file(target, &refusal)) {
    p.once_open = read_only(skipped + "cannot repair in place: ", refusal);
  } else if (const SysError held = system.replaceable(target); held != 0) {
    p.before_opening = stop(skipped + system_words(held));
  }
  rtl::platform::FileFacts facts;
  if (!r.force && system.file_facts(input.c_str(), &facts) && facts.regular_file && facts.links > 1) {
    const std::uint64_t others = facts.links - 1;
    p.if_changed = stop(p.input + ": has " + std::to_string(others) +
                        (others == 1 ? " other link" : " other links") + ": left as it is");
  }
}

// OUTPUT of INPUT OUTPUT: where the repair goes (a folder takes it under the input's own name), and why
// it may not go there, if it may not.
void plan_output(FilePlan& p, const Request& r, const std::string& input, std::string output,
                 const PlanAnswers& system) {
  p.write_to = output;
  if (output == "-") return;
  char target[rtl::platform::kLongestPath + 1] = "";
  SysError error = 0;
  NameKind kind = system.name_kind(output.c_str(), target, sizeof target, &error);
  if (kind == NameKind::folder && input != "-") {
    // A folder receives the repair under the input's own name, as a copy into it would; standard input
    // has none, so a folder as its OUTPUT is refused as a folder.
    const char separator =
        system.slash_options ? rtl::platform::kWindowsFolderSeparator : rtl::platform::kFolderSeparator;
    const bool ends =
        !output.empty() && (output.back() == rtl::platform::kFolderSeparator || output.back() == separator);
    if (!ends) output.push_back(separator);
    output.append(last_part(input, system.slash_options));
    kind = system.name_kind(output.c_str(), target, sizeof target, &error);
  }
  p.output = shown_name(output);
  p.write_to = output;
  const std::string skipped = p.output + ": skipped: ";
  if (system.device_name(output.c_str())) {
    p.once_open = stop(skipped + "is a device, which takes no repair (-c checks a file without writing one)");
    return;
  }
  switch (kind) {
    case NameKind::missing:
      if (!folder_exists(output, system)) p.once_open = stop(skipped + "its folder does not exist");
      p.replacing = true;
      return;
    case NameKind::folder:
      p.once_open = stop(skipped + "is a folder");
      return;
    case NameKind::other:  // a device or a pipe takes the records as they come
      return;
    case NameKind::dangling_link:
      // Written through, it would make a file where the link leads; replaced, it would be lost.
      p.replacing = true;
      if (!r.force) p.once_open = stop(skipped + "is a link to a file that does not exist (-f replaces it)");
      return;
    case NameKind::regular_file:
      break;
  }
  p.write_to = target;
  p.replacing = p.probe_output = true;
  if (SysError refusal = 0; !r.force) {
    p.once_open = stop(skipped + "it exists (-f replaces it)");
  } else if (!system.writable_file(target, &refusal)) {
    p.once_open = read_only(skipped + "cannot open: ", refusal);
  } else if (const SysError held = system.replaceable(target); held != 0) {
    p.once_open = stop(skipped + system_words(held));
  }
}

}  // namespace

PlanAnswers PlanAnswers::of_this_system() {
  return {rtl::platform::name_kind,   rtl::platform::device_name, rtl::platform::writable_file,
          rtl::platform::replaceable, rtl::platform::file_facts,  rtl::platform::slash_options()};
}

FilePlan plan_file(const Request& r, const std::string& input, const std::string& output,
                   const std::string& same_as, int jobs, bool in_batch, RoadUnits units,
                   const PlanAnswers& system) {
  FilePlan p;
  p.input = shown_name(input);
  p.output = shown_name(output);
  p.written_name = r.mode == Mode::in_place ? p.input : p.output;
  p.writes = r.mode != Mode::check;
  p.in_place = r.mode == Mode::in_place;
  p.refuse_other_formats = !r.any_format;
  p.quiet = r.quiet;
  p.read_from = input;
  p.in_batch = in_batch;
  p.units = units;
  p.keep_original = r.mode == Mode::in_place && r.backup;
  if (!same_as.empty()) {
    // Subtle: its result line, which -q keeps back.
    p.before_opening = {true, Outcome::done, false,
                        r.quiet ? std::string()
                                : p.input + ": the same file as " + shown_name(same_as) +
                                      (r.mode == Mode::check ? ", checked once" : ", repaired once")};
    return p;
  }
  // `-i *` in a folder of models takes their originals too: repaired, each would be backed up in turn.
  // Only a file is a backup: a missing name or a folder is reported as any other.
  if (r.mode != Mode::repair && !r.force && names_a_backup(input) && names_a_file(input, system)) {
    p.before_opening =
        stop(p.input + ": a backup (QUIL keeps originals under .orig): left as it is", Outcome::done);
    return p;
  }
  plan_input(p, r, input, system);
  if (p.before_opening.stops) return p;
  if (r.mode == Mode::in_place) p.replacing = true;
  p.result_name = p.input;
  if (r.mode == Mode::repair) {
    plan_output(p, r, input, output, system);
    p.written_name = p.output;
    p.result_name = p.input + " -> " + p.output;
  }
  // Files side by side already keep the processors busy: each goes in one piece. A stream goes in one
  // piece, and so do records written as they come.
  if (!in_batch && jobs >= 2 && input != "-" && (r.mode == Mode::check || p.replacing)) p.parts = jobs;
  return p;
}

FilePlan plan_dialogue(const std::string& input, const std::string& output, const std::string& shown,
                       bool was_missing, bool dropped, bool any_format, const PlanAnswers& system) {
  FilePlan p;
  // The dialogue's lines show the names as they were answered.
  p.input = p.read_from = input;
  p.output = p.written_name = output;
  // A link is written through: the file it leads to is the one replaced, and the link stays.
  char followed[rtl::platform::kLongestPath + 1];
  SysError error = 0;
  const bool regular =
      system.name_kind(output.c_str(), followed, sizeof followed, &error) == NameKind::regular_file;
  p.write_to = regular ? std::string(followed) : output;
  p.replacing = p.input_connected = p.failures_end_the_run = p.quiet = true;
  // Named on the command line, a file of another format is refused as every argument mode refuses it.
  p.refuse_other_formats = dropped && !any_format;
  p.guarded = false;
  p.answer_made_output = was_missing;
  // A file named on the command line (dropped on the program) is repaired as the command line repairs
  // one, in blocks and with its progress shown; one answered is written a record at a time, in the
  // output itself where nothing can be made beside it, as it always was.
  p.unit_shows = dropped ? std::string() : shown;
  p.written_in_place_otherwise = p.one_record_at_a_time = !dropped;
  p.untouched_by_no_record = !dropped && !was_missing;
  p.skipped = ": ";
  return p;
}

}  // namespace quil
