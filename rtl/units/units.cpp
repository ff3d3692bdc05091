#include "rtl/units/units.h"

#include <mutex>
#include <new>

namespace rtl {
std::atomic<Unit*> g_slots[kSlots] = {};

namespace {
std::atomic<Unit*> g_chains[kHashChains] = {};
// Units are made and discarded one at a time; they are looked up, and walked, without the lock: a unit
// is published whole, by one store.
std::mutex g_table;
}  // namespace

Unit* unit_slot(int index) { return g_slots[index].load(std::memory_order_acquire); }
Unit* unit_chain(int chain) { return g_chains[chain].load(std::memory_order_acquire); }

Unit* find_or_make_unit(std::int32_t number, bool create, UnitLookup* why) {
  if (why) *why = UnitLookup::found;
  if (number < kLowestSlotUnit) {
    if (why) *why = UnitLookup::refused_number;
    return nullptr;
  }
  const std::lock_guard<std::mutex> one_at_a_time(g_table);
  std::atomic<Unit*>* place;
  if (number <= kHighestSlotUnit) {
    place = &g_slots[number - kLowestSlotUnit];
    if (Unit* unit = place->load(); unit != nullptr || !create) return unit;
  } else {
    place = &g_chains[number % kHashChains];
    for (Unit* u = place->load(); u != nullptr; u = u->chain_next) {
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
  if (number > kHighestSlotUnit) unit->chain_next = place->load();
  place->store(unit, std::memory_order_release);
  return unit;
}

void discard_unit(Unit* unit) {
  if (unit == nullptr || unit->connected) return;
  {
    const std::lock_guard<std::mutex> one_at_a_time(g_table);
    if (unit->number <= kHighestSlotUnit) {
      g_slots[unit->number - kLowestSlotUnit].store(nullptr);
    } else {
      std::atomic<Unit*>* head = &g_chains[unit->number % kHashChains];
      if (head->load() == unit) {
        head->store(unit->chain_next);
      } else {
        for (Unit* p = head->load(); p != nullptr; p = p->chain_next) {
          if (p->chain_next == unit) {
            p->chain_next = unit->chain_next;
            break;
          }
        }
      }
    }
  }
  delete unit;
}

}  // namespace rtl
