#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "driver/driver.h"
#include "driver/file_road.h"
#include "driver/layouts.h"
#include "fileconn/connect.h"
#include "rtl/ending/ending.h"
#include "rtl/platform/platform.h"
#include "rtl/startup.h"
#include "rtl/statements/io.h"
#include "rtl/units/connect_settings.h"

namespace quil {
namespace {

// A name is 256 characters; in UTF-8 a character takes up to four bytes.
constexpr std::size_t kNameCharacters = 256;
constexpr std::int32_t kNameLength = 4 * kNameCharacters;

bool starts_character(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// How many bytes the first `characters` characters of the name take.
std::size_t bytes_of(const char (&name)[kNameLength], std::size_t characters) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < sizeof name; ++at) {
    if (starts_character(name[at]) && seen++ == characters) break;
  }
  return at;
}

// A name is cut after its 256th character: what follows becomes blanks.
void keep_first_characters(char (&name)[kNameLength]) {
  const std::size_t end = bytes_of(name, kNameCharacters);
  std::memset(name + end, ' ', sizeof name - end);
}

// The name as its 256 characters, blanks included, for the line that refuses it.
std::string_view shown(const char (&name)[kNameLength]) { return {name, bytes_of(name, kNameCharacters)}; }

// Whether the output file is one that QUIL reads: writing it would cut it away at the first record. The
// file behind console output is not among them: sending the repaired records there is a fair request.
bool file_being_read(std::int32_t unit) {
  return rtl::writes_file_read_by(unit, kInputUnit) || rtl::writes_file_read_by(unit, kConsoleIn);
}

// The name as the connection takes it: without the blanks around it.
std::string significant(const char (&name)[kNameLength]) {
  std::string_view text(name, kNameLength);
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') + 1 - first));
}

// A name copied from the Explorer ("Copy as path"), or dropped into a console or terminal window, comes
// in one pair of double or single quotes, which are not part of it.
void remove_quotes(char (&name)[kNameLength]) {
  std::size_t n = kNameLength;
  while (n > 0 && name[n - 1] == ' ') --n;
  if (n < 2 || name[0] != name[n - 1] || (name[0] != '"' && name[0] != '\'')) return;
  std::memmove(name, name + 1, n - 2);
  name[n - 2] = name[n - 1] = ' ';
}

// A name cut at the end of its field keeps no part of a character: the bytes of a UTF-8 sequence that
// the cut left incomplete become blanks.
void keep_whole_characters(char (&name)[kNameLength]) {
  std::size_t first = kNameLength - 1;  // the first byte of the last character
  while (first > 0 && (static_cast<unsigned char>(name[first]) & 0xC0) == 0x80) --first;
  const unsigned char lead = static_cast<unsigned char>(name[first]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (kNameLength - first < length) std::memset(name + first, ' ', kNameLength - first);
}

// An answers file written by an editor that marks UTF-8 begins with the mark; it is not part of a name.
void remove_byte_order_mark(char (&name)[kNameLength]) {
  if (std::memcmp(name, "\xEF\xBB\xBF", 3) != 0) return;
  std::memmove(name, name + 3, kNameLength - 3);
  std::memset(name + kNameLength - 3, ' ', 3);
}

// In a window of its own, a file dropped on the program is answered by a bare name for its repair: that
// file goes beside the dropped one, not into whatever folder the Explorer made current.
void place_beside(char (&name)[kNameLength], std::string_view folder) {
  if (folder.empty()) return;
  const std::string_view answer(name, kNameLength);
  const std::size_t length = answer.find_last_not_of(' ') + 1;
  if (length == 0 || answer.substr(0, length).find_first_of("/\\:") != std::string_view::npos) return;
  if (folder.size() + length > kNameLength) return;
  std::memmove(name + folder.size(), name, length);
  std::memcpy(name, folder.data(), folder.size());
}

// Asks for a file name until one connects to `unit`. The output question also refuses a file that QUIL
// reads, above all the one being repaired. A first answer, when given, stands for the first one typed and
// is shown as if it had been.
void ask_for_file(const char* question, const char* refusal, std::int32_t unit, std::int32_t mode,
                  char (&name)[kNameLength], std::string_view first_answer = {}, std::string_view beside = {},
                  bool* was_missing = nullptr) {
  std::int32_t error_word = 0;
  for (bool given = !first_answer.empty();; given = false) {
    std::memset(name, ' ', sizeof name);
    write_prompt(kConsoleOut, question, 45);
    if (given) {
      first_answer = first_answer.substr(0, kNameLength);
      std::memcpy(name, first_answer.data(), first_answer.size());
      rtl::write<kOneTextLayout>(kConsoleOut, first_answer);
    } else {
      rtl::read<kOneTextLayout>(kConsoleIn, rtl::Handlers{}, std::span<char>(name));
      remove_byte_order_mark(name);
    }
    keep_whole_characters(name);
    keep_first_characters(name);
    remove_quotes(name);
    place_beside(name, beside);
    keep_first_characters(name);
    if (was_missing != nullptr) {
      char target[rtl::platform::kLongestPath + 1];
      rtl::platform::SysError error = 0;
      // A link that leads to no file is written through: the answer makes the file it leads to.
      const auto kind = rtl::platform::name_kind(significant(name).c_str(), target, sizeof target, &error);
      *was_missing =
          kind == rtl::platform::NameKind::missing || kind == rtl::platform::NameKind::dangling_link;
    }
    connect_answer(name, kNameLength, unit, mode, error_word);
    // A file that can only be read cannot take the repaired records: asked again, as for any other.
    if (error_word == 0 && unit == kOutputUnit &&
        (file_being_read(kOutputUnit) || rtl::connected_read_only(kOutputUnit))) {
      rtl::release(kOutputUnit);
      error_word = -1;
    }
    if (error_word == 0) return;
    rtl::write<kTwoTextLayout>(kConsoleOut, refusal, shown(name));
    error_word = 0;
  }
}

// A disk file that receives the repair is written under a temporary name beside it and takes its name
// only when complete: control-C or a full disk part way leave an existing output as it was. The unit shows
// the output's own name in reports meanwhile.
[[noreturn]] void repair_beside(const std::string& answer, bool was_missing, const std::string& input,
                                bool dropped, bool any_format) {
  const FilePlan plan = plan_dialogue(input, answer, std::string(rtl::connected_name(kOutputUnit)),
                                      was_missing, dropped, any_format, PlanAnswers::of_this_system());
  rtl::release(kOutputUnit);
  FileLines::Kept lines;
  int failure = 0;
  std::int64_t records = 0;
  if (take_file_road(plan, FileLines(&lines), &failure, &records) != Outcome::done) {
    for (const auto& [unit, line] : lines) rtl::write<kOneTextLayout>(unit, line);
    rtl::stop_with_status(1);
  }
  rtl::write<kSummaryLayout>(kConsoleOut, static_cast<std::int32_t>(records), " lines with found");
  rtl::stop();
}

}  // namespace

void write_prompt(std::int32_t unit, const char* text, std::int32_t length) {
  char buffer[80];
  std::memset(buffer, ' ', sizeof buffer);
  const std::int32_t n = std::clamp<std::int32_t>(length, 0, 80);
  std::memcpy(buffer, text, static_cast<std::size_t>(n));
  rtl::write<kPromptLayout>(unit, std::string_view(buffer, static_cast<std::size_t>(n)));
}

void dialogue() { dialogue(std::string_view()); }

void dialogue(std::string_view first_answer, bool any_format) {
  rtl::divide_flaw_check();
  rtl::write<kBannerLayout>(kConsoleOut);

  char input_name[kNameLength];
  char output_name[kNameLength];
  ask_for_file("Give SESAM file to repair (complete name) :  ", " Nonexisting file :", kInputUnit, 1,
               input_name, first_answer);
  std::string_view beside;
  if (!first_answer.empty() && rtl::platform::alone_on_own_console()) {
    const std::size_t folder = first_answer.find_last_of("/\\:");
    if (folder != std::string_view::npos) beside = first_answer.substr(0, folder + 1);
  }
  bool output_was_missing = false;
  ask_for_file("File to print the repaired data           :  ", " Cannot Open  :", kOutputUnit, 0,
               output_name, {}, beside, &output_was_missing);
  if (rtl::on_named_disk_file(kOutputUnit)) {
    // Its names live on the heap: without memory the run ends with the record layer's report for it
    // (and the temporary file goes), never by an exception.
    try {
      repair_beside(significant(output_name), output_was_missing, significant(input_name),
                    !first_answer.empty(), any_format);
    } catch (const std::bad_alloc&) {
      rtl::issue_report(rtl::condition_code(rtl::Failure::no_memory), 0, {});
    }
  }

  const std::int32_t lines = repair_pass(kInputUnit, kOutputUnit);
  rtl::write<kSummaryLayout>(kConsoleOut, lines, " lines with found");
  rtl::release(kOutputUnit);
  rtl::stop();
}

}  // namespace quil
