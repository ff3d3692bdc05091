// Where the command's lines go: the one object that decides it, so that no line of a file ever lands
// among its repaired records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quil {

// Writes a line of the command's own to `unit`. Where nobody reads standard output or error any more,
// the command ends quietly, as commands here do, once its temporary files are gone. A line to a stream
// the command was started without is dropped; one that cannot be written otherwise (a full disk) is a
// failure of the run: standard error says so when it was standard output, and the status is its
// number (see lines_failure).
void print_line(std::int32_t unit, std::string_view line);
// The failure number of the first line that could not be written, or 0.
int lines_failure();

// One file's lines: its result line, its refusals and failures.
// A file repaired side by side with others keeps its lines until its turn comes (`kept`); one at a
// time, they go out at once.
class FileLines {
 public:
  using Kept = std::vector<std::pair<std::int32_t, std::string>>;
  explicit FileLines(Kept* kept = nullptr) : kept_(kept) {}

  // The file's records go to standard output (however it is named): its result line then goes to
  // standard error, apart from them.
  void records_to_standard_output() { records_on_out_ = true; }
  bool records_on_standard_output() const { return records_on_out_; }

  // Prints, now or in its turn, the file's result line.
  void print_result(std::string text) const;
  // Prints, now or in its turn, "quil: " and the text on standard error.
  void print_problem(const std::string& text) const;

 private:
  void print(std::int32_t unit, std::string text) const;
  Kept* kept_;
  bool records_on_out_ = false;
};

}  // namespace quil
