#include "fileconn/connect.h"

#include <cstring>
#include <string_view>

#include "fileconn/message_layouts.h"
#include "fileconn/significant_length.h"
#include "rtl/statements/io.h"

namespace quil {
namespace {

// The routine's working texts, shared by all its calls; each keeps its fixed length.
char g_status[8];
char g_access[11];
char g_form[12];
char g_blank[5];
constexpr char kSharing[] = "DENYNONE";

std::int32_t g_saved_status = 0;

void set_text(char* to, const char* from) { std::memcpy(to, from, std::strlen(from) + 1); }
std::string_view text(const char* t) { return {t, std::strlen(t)}; }

}  // namespace

namespace {

// The settings' texts from the caller's codes, into the routine's working texts.
void set_setting_texts(std::int32_t status_code, bool direct, std::int32_t form_code,
                       std::int32_t blank_code) {
  set_text(g_status, "UNKNOWN");
  set_text(g_access, "SEQUENTIAL");
  set_text(g_form, "FORMATTED  ");
  set_text(g_blank, "NULL");
  if (status_code == 2) set_text(g_status, "OLD    ");
  if (status_code == 3) set_text(g_status, "NEW    ");
  if (status_code == 4) set_text(g_status, "SCRATCH");
  if (direct) set_text(g_form, "UNFORMATTED");
  if (form_code == 1) set_text(g_form, "FORMATTED  ");
  if (form_code == 2) set_text(g_form, "UNFORMATTED");
  if (direct) set_text(g_access, "DIRECT    ");
  if (std::strcmp(g_form, "UNFORMATTED") != 0) set_text(g_blank, blank_code == 1 ? "ZERO" : "NULL");
}

void failure_heading(std::int32_t message_unit, std::int32_t unit) {
  if (message_unit > 0) rtl::write<kOpenFailureHeadingLayout>(message_unit, unit);
}

// The request for the record layer, its texts pointing at the working texts.
rtl::ConnectRequest request_for(const char* name, std::int32_t name_length, bool scratch, bool direct,
                                bool formatted, std::int32_t record_length) {
  rtl::ConnectRequest request;
  if (!scratch) {
    request.name = name;
    request.name_length = name_length > 0 ? static_cast<std::size_t>(name_length) : 0;
  }
  request.access = g_access;
  request.access_length = 10;
  request.status = g_status;
  request.status_length = 7;
  request.share = kSharing;
  request.share_length = 8;
  if (direct) {
    request.has_record_length = true;
    request.record_length = record_length;
  }
  request.form = g_form;
  request.form_length = 11;
  if (formatted) {
    request.blank = g_blank;
    request.blank_length = 4;
  }
  request.return_errors = true;
  return request;
}

// The notice of a connection made: the file (or scratch unit) and its characteristics.
void describe(std::int32_t message_unit, std::int32_t unit, const rtl::ConnectRequest& request, bool scratch,
              bool formatted, std::int32_t record_length) {
  if (scratch) {
    rtl::write<kScratchNoticeLayout>(message_unit, unit);
  } else {
    rtl::write<kFileNoticeLayout>(message_unit, std::string_view(request.name, request.name_length), unit);
  }
  rtl::write<kFileCharacteristicsLayout>(message_unit, text(g_status), text(g_access), text(g_form),
                                         record_length);
  if (formatted) rtl::write<kBlankModeLayout>(message_unit, text(g_blank));
}

}  // namespace

void connect_file(const char* name, std::int32_t name_length, std::int32_t unit, std::int32_t status_code,
                  std::int32_t access_code, std::int32_t form_code, std::int32_t blank_code,
                  std::int32_t record_length, std::int32_t report, std::int32_t message_unit,
                  std::int32_t& result) {
  result = 0;
  if (unit < 1 || unit > 99) {
    failure_heading(message_unit, unit);
    if (message_unit > 0) rtl::write<kUnitRangeLayout>(message_unit);
    result = kBadUnit;
    return;
  }
  const bool direct = access_code == 20 || access_code == 30;
  set_setting_texts(status_code, direct, form_code, blank_code);
  std::int32_t effective_length = 0;
  if (access_code == 20) {
    if (record_length < 1) {
      failure_heading(message_unit, unit);
      if (message_unit > 0) rtl::write<kRecordLengthLayout>(message_unit, record_length);
      result = kBadRecordLength;
      return;
    }
    // Formatted records are measured in characters, the caller's length in 4-byte words.
    effective_length = form_code == 1 ? record_length * 4 : record_length;
  } else if (access_code == 30) {
    effective_length = 128;
  }
  const bool formatted = std::strcmp(g_form, "UNFORMATTED") != 0;
  const bool scratch = std::strcmp(g_status, "SCRATCH") == 0;
  const rtl::ConnectRequest request =
      request_for(name, name_length, scratch, direct, formatted, effective_length);
  result = rtl::connect(unit, request);
  if (result <= 0) {
    if (report > 0 && message_unit > 0)
      describe(message_unit, unit, request, scratch, formatted, effective_length);
    return;
  }
  failure_heading(message_unit, unit);
  if (message_unit > 0) rtl::write<kErrorCodeLayout>(message_unit, result);
  result = -result;
}

void connect_answer(const char* name, std::int32_t declared_length, std::int32_t unit, std::int32_t mode,
                    std::int32_t& error_word) {
  if (mode > 0) {
    g_saved_status = 2;
  } else if (mode == 0) {
    g_saved_status = 1;
  }
  std::int32_t length = significant_length(name, declared_length);
  if (length < 0) length = 0;
  std::int32_t result = 0;
  connect_file(name, length, unit, g_saved_status, 0, 1, 0, 0, 0, -1, result);
  if (result != 0) error_word = -1;
}

}  // namespace quil
