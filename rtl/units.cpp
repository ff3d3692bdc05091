#include "rtl/units.h"

#include <new>

#include "rtl/diagnostics.h"

namespace rtl {
Unit* g_slots[kSlots] = {};

namespace {
Unit* g_chains[kHashChains] = {};
}  // namespace

Unit* unit_slot(int index) { return g_slots[index]; }
Unit* unit_chain(int chain) { return g_chains[chain]; }

Unit* find_or_make_unit(std::int32_t number, bool create, UnitLookup* why) {
  if (why) *why = UnitLookup::found;
  if (number < kLowestSlotUnit) {
    if (why) *why = UnitLookup::refused_number;
    return nullptr;
  }
  Unit** place;
  if (number <= kHighestSlotUnit) {
    place = &g_slots[number - kLowestSlotUnit];
    if (*place != nullptr || !create) return *place;
  } else {
    place = &g_chains[number % kHashChains];
    for (Unit* u = *place; u != nullptr; u = u->chain_next) {
      if (u->number == number) return u;
    }
    if (!create) return nullptr;
  }
  Unit* unit = new (std::nothrow) Unit;
  if (unit == nullptr) {
    if (why) *why = UnitLookup::no_memory;
    return nullptr;
  }
  unit->number = number;
  if (number > kHighestSlotUnit) unit->chain_next = *place;
  *place = unit;
  return unit;
}

void discard_unit(Unit* unit) {
  if (unit == nullptr || unit->connected) return;
  if (unit->number <= kHighestSlotUnit) {
    g_slots[unit->number - kLowestSlotUnit] = nullptr;
  } else {
    for (Unit** p = &g_chains[unit->number % kHashChains]; *p != nullptr; p = &(*p)->chain_next) {
      if (*p == unit) {
        *p = unit->chain_next;
        break;
      }
    }
  }
  delete unit;
}

std::atomic<std::uint32_t> g_event_thread{0};

void mark_console_event() { g_event_thread.store(platform::thread_token()); }
bool console_event_in_progress() { return g_event_thread.load() != 0; }
bool console_event_on_other_thread() {
  std::uint32_t t = g_event_thread.load();
  if (t == 0) return end_claimed_by_event();  // arrived, and its thread not yet running
  return t != platform::thread_token();
}
namespace {
enum class ProgramThread : int { running, reading, writing, parked };
std::atomic<ProgramThread> g_program_thread{ProgramThread::running};
std::atomic<std::uint32_t> g_parked_thread{0};
}  // namespace

void wait_for_the_end() {
  g_parked_thread.store(platform::thread_token());
  g_program_thread.store(ProgramThread::parked);
  for (;;) platform::sleep_milliseconds(50);
}

namespace {
// Publishes the program thread's state, then parks it if a console event is being handled elsewhere.
// The event thread's own transfers (the release of the units) leave that state alone.
void enter_state(ProgramThread state) {
  const std::uint32_t me = platform::thread_token();
  if (g_event_thread.load() == me) return;
  // Subtle: the state is published before the event mark is looked at, and the event thread marks
  // before it looks at the state; so either this thread parks here or the event thread waits for the
  // write to end.
  g_program_thread.store(state);
  const std::uint32_t event = g_event_thread.load();
  if (event != 0 && event != me) wait_for_the_end();
}
}  // namespace

void begin_transfer(bool writing) { enter_state(writing ? ProgramThread::writing : ProgramThread::reading); }
void end_transfer() { enter_state(ProgramThread::running); }

void settle_program_thread() {
  // A write to a disk file ends within moments; one to a pipe nobody drains may never end, hence
  // the bound. A thread that runs between transfers reaches its next bracket at once.
  for (int waited = 0; waited < 5000; ++waited) {
    ProgramThread state = g_program_thread.load();
    if (state == ProgramThread::parked || state == ProgramThread::reading) return;
    if (state == ProgramThread::running && waited >= 200) return;
    platform::sleep_milliseconds(1);
  }
}

bool parked_for_the_end(std::uint32_t holder) {
  return holder != 0 && g_program_thread.load() == ProgramThread::parked && g_parked_thread.load() == holder;
}

bool hold_unit(Unit* unit) {
  std::uint32_t expected = 0;
  if (!unit->holder.compare_exchange_strong(expected, platform::thread_token(), std::memory_order_acquire)) {
    return false;
  }
  if (console_event_on_other_thread()) wait_for_the_end();
  return true;
}

}  // namespace rtl
