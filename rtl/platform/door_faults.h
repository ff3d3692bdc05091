// A test build of the door fails the Nth call of one kind, or brings a console event at the Nth write,
// on every system alike; the product build has no such calls (door_fails is then false at compile time).
// QUIL_FAULT names them, e.g. "write:17" or "open:3,signal:20"; "rename:2+" fails the second call and
// every later one. The kinds: read, write, open, seek, truncate, close, stat, rename, copy, remove and
// signal (a console event at the Nth write: QUIL_FAULT_EVENT names it, 0 control-C, 1 control-BREAK,
// 2 window-CLOSE; else window-CLOSE at an even N, control-BREAK at an odd one). eof:N makes the Nth read
// find the end of its input, readsignal:N brings the event at the Nth read and waits until it is taken;
// signal:next brings it at the first write after the end of input that eof:N made; heldsignal:N brings it
// at the Nth read without waiting, held back from the event thread until the reading thread parks (where
// the system can hold it so); lateevent:N sends it at the Nth read without waiting, and the event thread
// takes it only 300 ms after it woke for it, as a thread that the machine's load keeps waiting; pipe:N fails
// the Nth write to standard output or error as one to a pipe whose reader has gone. The calls that put a
// file in place (copy, rename) count with the writes for a signal, so that an event comes at every moment
// of that step too. QUIL_FAULT_ERROR chooses the error of every failed call in the system's numbering
// ("1176"); with ":gone" ("1176:gone") a failed rename leaves the replaced file gone, the in-between state
// that some errors of a replace stand for. When a fault fires, the file named by QUIL_FAULT_FIRED is made,
// so that a sweep knows when N has passed the last call.
#pragma once

#include "rtl/platform/platform.h"

namespace rtl::platform {

enum class Door {
  read,
  write,
  open,
  seek,
  truncate,
  close,
  stat,
  rename,
  copy,
  remove,
  signal,
  eof,
  readsignal,
  heldsignal,
  change,
  lateevent,
  pipe
};

#ifdef QUIL_DOOR_FAULTS
// Whether this call of the kind is one to fail; the faults of a signal kind are brought about here.
bool door_fails(Door door);
// The error that QUIL_FAULT_ERROR chooses, 0 for each kind's own; whether a failed rename removes the
// file it was to replace.
SysError chosen_error();
bool failed_rename_removes_target();

// Each backend's own (in this build only):
// The error that a failed call of the kind hands back, in this system's numbering (the failures its
// users meet: a full disk, a network share gone, a file held by another program); it is also left as
// the system's last error.
SysError injected_error(Door door);
// Brings a console event as the system delivers one, and waits until its handler has taken it.
void raise_console_event(int event);
// Brings a console event that stays pending until the calling thread parks for the end, as one does
// whose handler's thread has not yet run.
void raise_held_console_event(int event);
// Sends a console event to the process as the system does, and returns at once.
void send_console_event(int event);
#else
// The product's door fails nothing: every fault branch is gone at compile time.
constexpr bool door_fails(Door) { return false; }
constexpr SysError chosen_error() { return 0; }
constexpr bool failed_rename_removes_target() { return false; }
constexpr SysError injected_error(Door) { return 0; }
#endif

}  // namespace rtl::platform
