// What the command does with one file, decided before anything is opened: the names its lines show,
// where its records are read from and where they go, whether it runs in a batch, in parts or in one
// piece, and where it stops. Planning only asks the system questions, which the caller answers: a test
// gives answers of its own.
#pragma once

#include <cstdint>
#include <string>

#include "driver/arguments.h"
#include "driver/unit_numbers.h"
#include "rtl/platform/platform.h"

namespace quil {

// Outcomes of one file, in the order in which they weigh on the status.
enum class Outcome { done, needs_repair, other_format, skipped, unchecked, failed };

// Where a file's records come from and go, through which units. A file's own units: the command's, or
// those of the k-th file that goes side by side with others.
struct RoadUnits {
  std::int32_t in = kInputUnit, out = kOutputUnit, probe = kProbeUnit;
  static RoadUnits of_batch_file(int k) {
    return {kFirstBatchInput + k, kFirstBatchOutput + k, kFirstBatchProbe + k};
  }
};

// What planning a file asks of the system.
struct PlanAnswers {
  rtl::platform::NameKind (*name_kind)(const char* name, char* target, std::size_t capacity,
                                       rtl::platform::SysError* error);
  bool (*device_name)(const char* name);
  bool (*writable_file)(const char* name, rtl::platform::SysError* refusal);
  rtl::platform::SysError (*replaceable)(const char* name);
  bool (*file_facts)(const char* name, rtl::platform::FileFacts* facts);
  bool slash_options;
  // The answers of the system the program runs on.
  static PlanAnswers of_this_system();
};

// Where a file's run ends early: its outcome and its line.
struct Stop {
  bool stops = false;
  Outcome outcome = Outcome::skipped;
  bool problem = true;  // the line goes to standard error after "quil: "; else it is the file's result
  std::string line;     // empty: the file ends without a line
};

struct FilePlan {
  std::string input, output;  // as the lines show them; OUTPUT in a folder is the repair's own name there
  std::string result_name;    // what the file's result line begins with ("IN -> OUT" for INPUT OUTPUT)
  std::string written_name;   // the name that a failure to write the repair, or to put it in place, names
  bool writes = true;         // false: the file is checked (-c), its counts say whether it needs repair
  bool in_place = false;      // a repair that is the file byte for byte leaves the file untouched
  bool refuse_other_formats = true;
  bool quiet = false;
  std::string read_from;  // "-", or the name opened: in place, the file that a link leads to
  // "-", a device or pipe written as the records come, or the file that the repair replaces; empty when
  // nothing is written (-c).
  std::string write_to;
  bool replacing = false;  // written beside `write_to` under a temporary name, renamed over it at the end
  bool keep_original = false;
  bool in_batch = false;      // its lines wait for their turn, it shows no progress and goes in one piece
  int parts = 1;              // a disk file of kSmallestFileInParts or more goes in this many parts at once
  bool probe_output = false;  // an existing OUTPUT: whether it is the file being repaired is asked once
                              // the input is open
  RoadUnits units;
  // The dialogue's file, which its answers opened: how it differs from the command's.
  bool input_connected = false;     // the answer connected the input, which stays connected to the end
  std::string unit_shows;           // the name that the output's unit shows in reports meanwhile
  bool answer_made_output = false;  // the answer's connection made the file: it goes first
  bool written_in_place_otherwise = false;  // where nothing can be made beside it, the output takes it
  bool one_record_at_a_time = false;        // no blocks and no progress, as the dialogue always wrote
  bool failures_end_the_run = false;        // the record layer reports a failed read or write
  bool untouched_by_no_record = false;      // an existing output is cut only by the first record
  // The command's guards: a file that standard output or error is, or that changes while it is read, is
  // left as it is; a file put in place and its line are one step for an event.
  bool guarded = true;
  const char* skipped = ": skipped: ";  // between the name and why a file is not repaired
  Stop before_opening;                  // named twice, a backup, or an input refused by its name
  Stop once_open;                       // in place, a read-only file; else an OUTPUT refused
  Stop if_changed;                      // a file with other names, which a repair in place would part from it
};

// Plans the file `input` of the request (`output` for INPUT OUTPUT, else the same name); `same_as` is an
// earlier name of the same file, which is repaired or checked once.
FilePlan plan_file(const Request& r, const std::string& input, const std::string& output,
                   const std::string& same_as, int jobs, bool in_batch, RoadUnits units,
                   const PlanAnswers& system);

// Plans the dialogue's repair into the disk file that its answer `output` connected (`shown` is the name
// that the connection shows), its input `input` connected too; `was_missing` when the answer's
// connection made the file; `dropped` when the input was named on the command line (`any_format` as
// --any-format asks).
FilePlan plan_dialogue(const std::string& input, const std::string& output, const std::string& shown,
                       bool was_missing, bool dropped, bool any_format, const PlanAnswers& system);

}  // namespace quil
