#include "driver/replacement.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "driver/shown_name.h"
#include "driver/unit_numbers.h"
#include "driver/words.h"
#include "rtl/ending/ending.h"
#include "rtl/statements/io.h"
#include "rtl/units/connect_settings.h"

namespace quil {
namespace {

// Kept where an exit cleanup can reach them without allocating: one a file repaired at the same time.
constexpr int kSlots = kMostJobs;
char g_temporary[kSlots][rtl::platform::kLongestPath + 1];
std::atomic<bool> g_taken[kSlots];   // a replacement holds the slot
std::atomic<bool> g_exists[kSlots];  // its file is there to be removed

void remove_temporaries() {
  for (int i = 0; i < kSlots; ++i) {
    if (g_exists[i].exchange(false)) rtl::platform::remove_file(g_temporary[i]);
  }
}

int take_slot() {
  for (int i = 0; i < kSlots; ++i) {
    bool free = false;
    if (g_taken[i].compare_exchange_strong(free, true)) return i;
  }
  return -1;
}

// Permissions of new files are the process's: one replacement at a time narrows them.
std::mutex g_creating;

// The longest last part of a name that file systems take.
constexpr std::size_t kLongestLeaf = 255;

std::string temporary_name(const std::string& target, int n) {
  const std::size_t leaf = rtl::platform::leaf_start(target, true);
  const std::size_t leaf_length = target.size() - leaf;
  const std::string suffix = ".quil-" + std::to_string(n) + ".tmp";
  // Named for the file it becomes; where that name would be too long, a short one in the same folder.
  if (leaf_length + suffix.size() <= kLongestLeaf) return target + suffix;
  return target.substr(0, leaf) + "quil-" + std::to_string(n) + ".tmp";
}

}  // namespace

bool names_a_backup(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view last = name.substr(dot + 1);
  if (last == "orig") return true;
  const bool digits = !last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos;
  return digits && name.substr(0, dot).ends_with(".orig");
}

// A replacement given up on any road (an exception, a failure) leaves no temporary file behind.
Replacement::~Replacement() {
  if (slot_ < 0) return;
  discard();
  g_taken[slot_].store(false);
}

std::string Replacement::create_beside(const std::string& target, std::int32_t unit, std::string_view shown) {
  rtl::set_exit_cleanup(remove_temporaries);
  if (slot_ < 0 && (slot_ = take_slot()) < 0) return "cannot write beside it: too many files at once";
  target_ = target;
  rtl::ConnectSettings settings;
  settings.status = rtl::OpenStatus::new_file;
  settings.has_name = settings.exact_name = settings.return_errors = true;
  settings.shown_name = shown;
  for (int n = 1; n < 100; ++n) {
    temporary_ = temporary_name(target, n);
    if (temporary_.size() > rtl::platform::kLongestPath)
      return "cannot write beside it: " + refusal_words(static_cast<int>(rtl::Failure::bad_file_name));
    settings.name = temporary_;
    int rc = 0;
    {
      const std::lock_guard<std::mutex> one_at_a_time(g_creating);
      rtl::platform::restrict_new_files_to(target.c_str());
      rc = rtl::connect(unit, settings);
      rtl::platform::restrict_new_files_to(nullptr);
      if (rc == 0) {
        std::memcpy(g_temporary[slot_], temporary_.c_str(), temporary_.size() + 1);
        g_exists[slot_].store(true);
      }
    }
    if (rc == static_cast<int>(rtl::Failure::file_exists)) continue;
    // The system's words where it refused (a read-only file system), the record layer's otherwise.
    const rtl::platform::SysError e = rtl::last_refusal_error();
    if (rc != 0) return "cannot write beside it: " + (e != 0 ? system_words(e) : refusal_words(rc));
    return {};
  }
  return "cannot write beside it: too many temporary files";
}

void Replacement::discard() {
  if (slot_ >= 0 && g_exists[slot_].exchange(false)) rtl::platform::remove_file(g_temporary[slot_]);
}

std::string Replacement::keep_original_copy(std::string* kept) {
  // An earlier original stays where it is; this one goes beside it, never lost.
  std::string backup = target_ + ".orig";
  rtl::platform::SysError e = rtl::platform::keep_copy(target_.c_str(), backup.c_str());
  for (int n = 1; n < 1000 && rtl::platform::file_exists_error(e); ++n) {
    backup = target_ + ".orig." + std::to_string(n);
    e = rtl::platform::keep_copy(target_.c_str(), backup.c_str());
  }
  if (e != 0) return "cannot keep the original as " + shown_name(backup) + ": " + system_words(e);
  backup_ = backup;
  *kept = ", original kept in " + shown_name(backup);
  return {};
}

// A replace may fail half way: on Windows the replaced file may be gone before the new one has its name
// (ERROR_UNABLE_TO_MOVE_REPLACEMENT). The target's name is looked at again, on every system alike; the
// files are dealt with before any text is made, which may run out of memory.
std::string Replacement::after_failed_replace(rtl::platform::SysError error,
                                              const rtl::platform::FileFacts* before,
                                              const std::string& kept) {
  rtl::platform::FileFacts now;
  const bool there = rtl::platform::file_facts(target_.c_str(), &now);
  if (before == nullptr ? !there : there && now.same_file(*before)) {
    rtl::platform::remove_file(temporary_.c_str());
    return "cannot replace it: " + system_words(error);
  }
  // The name no longer holds what it held: the repair may be the only copy, and is never removed.
  left_as_it_was_ = false;
  const bool moved = !there && rtl::platform::rename_file(temporary_.c_str(), target_.c_str()) == 0;
  const bool restored =
      !there && !moved && !backup_.empty() && rtl::platform::keep_copy(backup_.c_str(), target_.c_str()) == 0;
  const std::string why = "cannot replace it: " + system_words(error);
  if (moved) return why + "; the repair is in its place" + kept;
  if (restored)
    return why + "; the original is back in its place, the repair is in " + shown_name(temporary_) + kept;
  return why + "; the repair is in " + shown_name(temporary_) + kept;
}

std::string Replacement::commit(bool keep_original, std::string* kept) {
  const rtl::CommitGate one_step;
  left_as_it_was_ = true;
  backup_.clear();
  rtl::platform::FileFacts facts;
  const bool existed = rtl::platform::file_facts(target_.c_str(), &facts);
  std::string why = keep_original ? keep_original_copy(kept) : std::string();
  if (why.empty()) {
    if (const rtl::platform::SysError e =
            rtl::platform::copy_permissions(target_.c_str(), temporary_.c_str()))
      why = "cannot give the repair the file's permissions: " + system_words(e);
  }
  if (!why.empty()) {
    discard();
    return why;
  }
  // From the replace on, the temporary file may be the only copy: the commit alone decides whether it goes,
  // never the exit cleanup.
  g_exists[slot_].store(false);
  if (const rtl::platform::SysError e = rtl::platform::rename_file(temporary_.c_str(), target_.c_str()))
    return after_failed_replace(e, existed ? &facts : nullptr, *kept);
  return {};
}

}  // namespace quil
