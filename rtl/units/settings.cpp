// A connect request's keyword texts, read once into typed settings.
#include <string_view>

#include "rtl/ascii.h"
#include "rtl/units/connect_settings.h"
#include "rtl/units/connection.h"

namespace rtl {
namespace {

// A setting text upper-cased and trimmed of trailing blanks; false when it is longer than any value.
bool normalise(const char* text, std::size_t length, char (&out)[16], std::string_view* result) {
  while (length > 0 && text[length - 1] == ' ') --length;
  if (length >= sizeof out) return false;
  for (std::size_t i = 0; i < length; ++i) {
    out[i] = ascii_upper(text[i]);
  }
  *result = std::string_view(out, length);
  return true;
}

// Reads one keyword: true when it is absent (the value stays) or one of `words` (the value is its
// index's); false when it is none of them.
template <typename T, std::size_t N>
bool read_keyword(const char* text, std::size_t length, const std::string_view (&words)[N],
                  const T (&values)[N], T* value) {
  if (text == nullptr) return true;
  char buffer[16];
  std::string_view v;
  if (!normalise(text, length, buffer, &v)) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (words[i] == v) {
      *value = values[i];
      return true;
    }
  }
  return false;
}

constexpr std::string_view kStatusWords[] = {"OLD", "NEW", "SCRATCH", "UNKNOWN", "REPLACE"};
constexpr OpenStatus kStatuses[] = {OpenStatus::old_file, OpenStatus::new_file, OpenStatus::scratch,
                                    OpenStatus::unknown, OpenStatus::replace};
constexpr std::string_view kAccessWords[] = {"SEQUENTIAL", "DIRECT", "APPEND", "KEYED"};
constexpr Access kAccesses[] = {Access::sequential, Access::direct, Access::append, Access::keyed};
constexpr std::string_view kFormWords[] = {"FORMATTED", "UNFORMATTED", "BINARY"};
constexpr Form kForms[] = {Form::formatted, Form::unformatted, Form::binary};
constexpr std::string_view kBlankWords[] = {"ZERO", "NULL"};
constexpr Blank kBlanks[] = {Blank::zero, Blank::null};
// "DENYNONE" and "COMPAT" share reading and writing, "DENYRD" writing only, "DENYRW" nothing, "DENYWR"
// reading only.
constexpr std::string_view kShareWords[] = {"COMPAT", "DENYNONE", "DENYRD", "DENYRW", "DENYWR"};
constexpr platform::Sharing kSharings[] = {platform::Sharing::read_write, platform::Sharing::read_write,
                                           platform::Sharing::write_only, platform::Sharing::none,
                                           platform::Sharing::read_only};

}  // namespace

Failure parse_settings(const ConnectRequest& req, ConnectSettings* settings) {
  settings->has_form = req.form != nullptr;
  const bool known =
      read_keyword(req.status, req.status_length, kStatusWords, kStatuses, &settings->status) &&
      read_keyword(req.access, req.access_length, kAccessWords, kAccesses, &settings->access) &&
      read_keyword(req.form, req.form_length, kFormWords, kForms, &settings->form) &&
      read_keyword(req.blank, req.blank_length, kBlankWords, kBlanks, &settings->blank) &&
      read_keyword(req.share, req.share_length, kShareWords, kSharings, &settings->sharing);
  // There is no read-only connection request, so no pair of these settings can contradict another.
  if (!known) return Failure::bad_setting;
  settings->record_length = req.has_record_length ? req.record_length : 0;
  settings->has_name = req.name != nullptr;
  if (settings->has_name) {
    // A text request's name is the dialogue's: at most 256 characters of UTF-8.
    settings->name =
        std::string_view(req.name, req.name_length < kMaxNameBytes ? req.name_length : kMaxNameBytes);
  }
  settings->return_errors = req.return_errors;
  return Failure{};
}

}  // namespace rtl
