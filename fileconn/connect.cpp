#include "fileconn/connect.h"

#include "fileconn/significant_length.h"
#include "rtl/statements/io.h"

namespace quil {
namespace {

bool g_must_exist = false;

}  // namespace

void connect_answer(const char* name, std::int32_t declared_length, std::int32_t unit, std::int32_t mode,
                    std::int32_t& error_word) {
  if (mode > 0) {
    g_must_exist = true;
  } else if (mode == 0) {
    g_must_exist = false;
  }
  rtl::ConnectRequest request;
  request.name = name;
  request.name_length = static_cast<std::size_t>(significant_length(name, declared_length));
  request.status = g_must_exist ? "OLD    " : "UNKNOWN";
  request.status_length = 7;
  request.access = "SEQUENTIAL";
  request.access_length = 10;
  request.share = "DENYNONE";
  request.share_length = 8;
  request.form = "FORMATTED  ";
  request.form_length = 11;
  request.blank = "NULL";
  request.blank_length = 4;
  request.return_errors = true;
  if (rtl::connect(unit, request) != 0) error_word = -1;
}

}  // namespace quil
