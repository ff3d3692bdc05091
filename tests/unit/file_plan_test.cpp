// One file's plan made from the command's arguments and the system's answers, which the test gives; and
// the lines of a repair that cannot be put in place.
#include "driver/file_plan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/replacement.h"
#include "driver/words.h"
#include "rtl/statements/io.h"
#include "unit/test_support.h"

namespace {

using rtl::platform::NameKind;
using rtl::platform::SysError;

// The system as the test has it, by the start of a name: "dir" without a dot a folder, "new" nothing,
// "dangling" a link to nothing, "pipe" a pipe, "loop" a name the system cannot follow, "link" a link to
// "target"; "ro" a file that may not be written ("rofs" for the file system's cause), "held" one another
// program holds, "two" and "three" files with as many names, "dev" a device. Any other name is a file.
bool starts(const char* name, const char* start) {
  return std::strncmp(name, start, std::strlen(start)) == 0;
}
NameKind name_kind(const char* name, char* target, std::size_t capacity, SysError* error) {
  if (starts(name, "dir") && std::strchr(name, '.') == nullptr) return NameKind::folder;
  if (starts(name, "dangling")) return NameKind::dangling_link;
  *error = starts(name, "new") || starts(name, "nofolder") ? 2 : starts(name, "loop") ? 40 : 0;
  if (*error == 2) return NameKind::missing;
  if (*error != 0 || starts(name, "pipe")) return NameKind::other;
  std::snprintf(target, capacity, "%s", starts(name, "link") ? "target.fem" : name);
  return NameKind::regular_file;
}
bool device(const char* name) { return starts(name, "dev"); }
bool writable(const char* name, SysError* refusal) {
  if (starts(name, "rofs")) *refusal = 30;
  return !starts(name, "ro");
}
SysError replaceable(const char* name) { return starts(name, "held") ? 13 : 0; }
bool facts(const char* name, rtl::platform::FileFacts* f) {
  f->regular_file = true;
  f->links = starts(name, "two") ? 2 : starts(name, "three") ? 3 : 1;
  return true;
}
// The plan in one line: where its records are read from and go, then each stop with its outcome.
std::string described(const quil::FilePlan& p) {
  static const char* const outcomes[] = {"done", "needs repair", "other format", "skipped", "unchecked", ""};
  const auto stop = [](const char* when, const quil::Stop& s) {
    return s.stops ? std::string(" | ") + when + outcomes[static_cast<int>(s.outcome)] + ": " + s.line : "";
  };
  if (p.before_opening.stops) return stop("", p.before_opening).substr(3);
  return (p.result_name != p.input ? p.result_name + ": " : "") + p.read_from + " > " + p.write_to +
         (p.replacing ? " replaced" : "") + (p.keep_original ? " kept" : "") +
         (p.probe_output ? " probed" : "") +
         (p.parts > 1 ? " in " + std::to_string(p.parts) + " parts" : "") + stop("once open, ", p.once_open) +
         stop("if changed, ", p.if_changed);
}

TEST(FilePlan, FromTheArgumentsAndTheSystemsAnswers) {
  const std::string ro = quil::system_words(30), loop = quil::system_words(40), none = quil::system_words(2),
                    held = quil::system_words(13);
  const struct Row {
    std::vector<const char*> args;
    std::string plans;  // each file's, after "; "
    bool in_batch = false;
    const char* same_as = "";
  } rows[] = {
      {{"-ij3", "a.fem", "link.fem"},
       "a.fem > a.fem replaced kept in 3 parts; target.fem > target.fem replaced kept in 3 parts"},
      {{"-ij3", "--no-backup", "a.fem"}, "a.fem > a.fem replaced", true},  // a batch goes in one piece
      {{"-cj3", "a.fem", "-"}, "a.fem >  in 3 parts; - > "},
      {{"-j3", "a.fem", "out.fem"},
       "a.fem -> out.fem: a.fem > out.fem replaced probed in 3 parts | once open, skipped: out.fem: skipped: "
       "it exists (-f replaces it)"},
      {{"-f", "a.fem", "new.fem"}, "a.fem -> new.fem: a.fem > new.fem replaced"},
      {{"-j3", "-", "-"}, "- -> -: - > -"},
      {{"-j3", "a.fem", "pipe"}, "a.fem -> pipe: a.fem > pipe"},
      {{"a.fem", "dir/"},
       "a.fem -> dir/a.fem: a.fem > dir/a.fem replaced probed | once open, skipped: dir/a.fem: skipped: it "
       "exists (-f replaces it)"},
      {{"-f", "a.fem", "dangling.fem"}, "a.fem -> dangling.fem: a.fem > dangling.fem replaced"},
      {{"-", "dir"}, "- -> dir: - > dir | once open, skipped: dir: skipped: is a folder"},  // no name to take
      {{"a.fem", "nofolder/x"},
       "a.fem -> nofolder/x: a.fem > nofolder/x replaced | once open, skipped: nofolder/x: skipped: its "
       "folder does not exist"},
      {{"a.fem", "dev.fem"},
       "a.fem -> dev.fem: a.fem > dev.fem | once open, skipped: dev.fem: skipped: is a device, which takes "
       "no repair (-c checks a file without writing one)"},
      {{"-f", "a.fem", "ro.fem"},
       "a.fem -> ro.fem: a.fem > ro.fem replaced probed | once open, skipped: ro.fem: skipped: cannot open: "
       "it is read-only"},
      {{"-f", "a.fem", "held.fem"},
       "a.fem -> held.fem: a.fem > held.fem replaced probed | once open, skipped: held.fem: skipped: " +
           held},
      {{"-i", "ro.fem", "rofs.fem", "held.fem"},
       "ro.fem > ro.fem replaced kept | once open, skipped: ro.fem: skipped: cannot repair in place: it is "
       "read-only; rofs.fem > rofs.fem replaced kept | once open, skipped: rofs.fem: skipped: cannot repair "
       "in place: " +
           ro + "; skipped: held.fem: skipped: " + held},
      {{"-i", "dir", "pipe", "loop", "new.fem"},
       "skipped: dir: skipped: is a folder; skipped: pipe: skipped: not a regular file; skipped: loop: "
       "skipped: " +
           loop + "; skipped: new.fem: skipped: " + none},
      {{"-c", "dir", "new.fem"}, "unchecked: dir: skipped: is a folder; new.fem > "},
      {{"-i", "two.fem", "three.fem"},
       "two.fem > two.fem replaced kept | if changed, skipped: two.fem: has 1 other link: left as it is; "
       "three.fem > three.fem replaced kept | if changed, skipped: three.fem: has 2 other links: left as it "
       "is"},
      {{"-if", "two.fem"}, "two.fem > two.fem replaced kept"},
      // QUIL's own backups are no models, unless -f; a file named twice is repaired or checked once.
      {{"-i", "a.orig", "a.orig.12", "a.orig2"},
       "done: a.orig: a backup (QUIL keeps originals under .orig): left as it is; done: a.orig.12: a backup "
       "(QUIL keeps originals under .orig): left as it is; a.orig2 > a.orig2 replaced kept"},
      {{"-cf", "a.orig"}, "a.orig > "},
      {{"-c", "new.orig", "new.orig.2"},
       "new.orig > ; new.orig.2 > "},  // missing: no backup, failed as missing
      {{"-c", "./a.fem"}, "done: ./a.fem: the same file as a.fem, checked once", false, "a.fem"},
      {{"-iq", "./a.fem"}, "done: ", false, "a.fem"},
  };
  const quil::PlanAnswers system{name_kind, device, writable, replaceable, facts, false};
  for (const Row& row : rows) {
    std::vector<const char*> argv = {"quil"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    SCOPED_TRACE(testing::PrintToString(row.args));
    const auto one_name = [](const char* name, void (*take)(const char*, void*), void* names) {
      take(name, names);
      return 1;
    };
    const quil::ParsedArguments a =
        quil::parse_arguments(static_cast<int>(argv.size()), argv.data(),
                              {one_name, [] { return false; }, [](const char*) { return true; }, false});
    const quil::Request& r = a.request;
    std::string plans;
    for (std::size_t i = 0; i < (r.mode == quil::Mode::repair ? 1 : r.names.size()); ++i) {
      const std::string& output = r.names[r.mode == quil::Mode::repair ? 1 : i];
      const quil::FilePlan p = quil::plan_file(r, r.names[i], output, row.same_as, r.jobs > 0 ? r.jobs : 1,
                                               row.in_batch, {}, system);
      plans += (plans.empty() ? "" : "; ") + described(p);
    }
    EXPECT_EQ(plans, row.plans);
  }
}

#ifndef _WIN32
// A repair that cannot take the file's place leaves the file as it was, and its line says why.
TEST(FilePlan, ARepairThatCannotBePutInPlace) {
  const std::string folder = test::temp_path("put-in-place");
  test::remove_tree(folder);
  ASSERT_TRUE(test::make_folder(folder));
  const std::string file = folder + "/t.fem", long_name = folder + "/" + std::string(251, 'x');
  test::write_file(file, "old");
  test::write_file(long_name, "old");
  ASSERT_TRUE(test::make_folder(folder + "/d"));
  for (int n = 1; n < 100; ++n) test::write_file(file + ".quil-" + std::to_string(n) + ".tmp", "");
  std::string kept;
  quil::Replacement crowded, too_long, folder_in_place;
  EXPECT_EQ(crowded.create_beside(file, 97), "cannot write beside it: too many temporary files");
  EXPECT_EQ(too_long.create_beside(long_name, 97), "");
  rtl::release(97);
  EXPECT_EQ(too_long.commit(true, &kept),
            "cannot keep the original as " + long_name + ".orig: " + quil::system_words(36));
  EXPECT_EQ(folder_in_place.create_beside(folder + "/d", 97), "");
  rtl::release(97);
  EXPECT_EQ(folder_in_place.commit(false, &kept), "cannot replace it: " + quil::system_words(21));
  EXPECT_TRUE(folder_in_place.left_as_it_was());
  EXPECT_EQ(test::read_file(long_name), "old");
  test::remove_tree(folder);
}
#endif

}  // namespace
