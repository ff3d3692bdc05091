// Which header records announce text records, and how many.
#include "driver/text_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

struct Row {
  const char* name;  // padded to 8 with blanks
  double fields[4];
  std::int32_t announced;
};

TEST(TextRecords, AnnouncedByHeaders) {
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {"DATE", {1, 0, 4, 72}, 4},
      {"TEXT", {1, 0, 1, 1}, 1},
      {"TEXT", {1, 0, 0, 72}, 0},  // no record announced
      {"TEXT", {1, 0, 3, 0}, 0},   // NBYTE 1..72
      {"TEXT", {1, 0, 3, 73}, 0},
      {"TEXT", {1, 0, 1.5, 72}, 0},  // a count that is not whole
      {"TEXT", {1.5, 0, 3, 72}, 0},  // nor any other field
      {"TEXT", {1, 0, inf, 72}, 0},
      {"TEXT", {1, 0, 2147483647, 72}, 2147483647},
      {"TEXT", {1, 0, 2147483648.0, 72}, 0},
      {"TEXTS", {1, 0, 3, 72}, 0},  // the whole name, not its beginning
      {" TEXT", {1, 0, 3, 72}, 0},
      {"text", {1, 0, 3, 72}, 0},
      {"TDMATER", {4, 1, 103, 0}, 1},
      {"TDSETNAM", {4, 12, 110, 212}, 3},
      {"TD", {4, -7, 0, 0}, 0},
      {"TDX", {4, -7, 164, 6464}, 65},  // NCNAM and NCTXT at their limit of 64
      {"TSLAYER", {4, 1, 100, 100}, 2},
      {"TDNODE", {3, 1, 100, 0}, 0},  // NFIELD must be 4
      {"TDNODE", {4, 1, 200, 0}, 0},  // at most one name line
      {"TDNODE", {4, 1, 165, 0}, 0},  // a name of at most 64 characters
      {"TDNODE", {4, 1, 100, 165}, 0},
      {"TDNODE", {4, 1, -100, 0}, 0},
      {"TDNODE", {4, 1, 100.5, 0}, 0},
      {"TSLAYERX", {4, 1, 100, 0}, 0},
      {"GNODE", {4, 1, 100, 100}, 0},
  };
  for (const Row& row : rows) {
    char name[8];
    std::memset(name, ' ', sizeof name);
    std::memcpy(name, row.name, std::strlen(row.name));
    SCOPED_TRACE(testing::Message() << "'" << row.name << "' " << row.fields[0] << " " << row.fields[1] << " "
                                    << row.fields[2] << " " << row.fields[3]);
    EXPECT_EQ(quil::announced_text_records(name, row.fields), row.announced);
  }
}

}  // namespace
