// The platform door on Windows: each thread's own copy of a thread_local variable.
//
// GCC for MinGW-w64 has no native thread-local storage: every use of a thread_local variable calls
// __emutls_get_address, and the one in its run-time library asks winpthreads for the thread's table
// (pthread_getspecific: GetLastError, pthread_once, TlsGetValue, a spin lock, SetLastError). A model's
// line reaches such variables about eleven times (the field decoder's table of shapes, the thread's
// token), and under Wine that cost a quarter of the repair's time. This one keeps the same table per
// thread, with the same layout of the compiler's variable objects and the same clean-up at a thread's
// end (a winpthreads key), but finds it in a slot of the system's own thread storage, read from the
// thread's block: no call at all once a thread has its copy. Linked in place of the run-time library's,
// it serves every thread_local of the program, the C++ library's own included.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h, whose types it uses.
#include <pthread.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {
// As GCC lays out each thread_local variable (its __emutls_v. object).
struct __emutls_object {
  std::uintptr_t size;
  std::uintptr_t align;
  std::uintptr_t offset;  // the variable's number, from 1; 0 until its first use
  void* templ;            // its initial bytes, or nullptr for zeros
};
void* __emutls_get_address(__emutls_object* object);
void __emutls_register_common(__emutls_object* object, std::uintptr_t size, std::uintptr_t align,
                              void* templ);
}

namespace {

// A thread's copies: `size` entries after the header, each nullptr until the thread first uses that
// variable.
struct Copies {
  std::uintptr_t size;
  void** at() { return reinterpret_cast<void**>(this + 1); }
};

DWORD g_slot = TLS_OUT_OF_INDEXES;  // the system's slot that holds each thread's Copies
pthread_key_t g_key;                // frees them at the thread's end
std::uintptr_t g_variables = 0;     // how many variables have a number
SRWLOCK g_numbering = SRWLOCK_INIT;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

// The value of the thread's slot, read from its block as TlsGetValue reads it (TlsSlots, the first 64).
// Subtle: not through NtCurrentTeb(), whose read at a fixed address GCC 12 takes for one out of bounds.
void* slot_value(DWORD slot) {
  void* value;
  asm volatile("movq %%gs:%c1(,%q2,8), %0" : "=r"(value) : "i"(offsetof(TEB, TlsSlots)), "r"(slot));
  return value;
}

// A slot past the first 64, through the system's call.
[[gnu::noinline]] Copies* own_copies_past_64() {
  // Subtle: the caller may be between a failed system call and its question for the error, which
  // TlsGetValue sets.
  const DWORD error = GetLastError();
  Copies* copies = static_cast<Copies*>(TlsGetValue(g_slot));
  SetLastError(error);
  return copies;
}

Copies* own_copies() {
  if (g_slot < 64) [[likely]]
    return static_cast<Copies*>(slot_value(g_slot));
  return own_copies_past_64();
}

void set_own_copies(Copies* copies) {
  TlsSetValue(g_slot, copies);
  pthread_setspecific(g_key, copies);
}

// At the thread's end (or later, if a copy is asked for again meanwhile).
void free_copies(void* p) {
  Copies* copies = static_cast<Copies*>(p);
  for (std::uintptr_t i = 0; i < copies->size; ++i) {
    if (copies->at()[i] != nullptr) std::free(static_cast<void**>(copies->at()[i])[-1]);
  }
  std::free(copies);
  // A thread_local used after this, by a destructor that runs later, gets a fresh copy, as it did before.
  TlsSetValue(g_slot, nullptr);
}

BOOL CALLBACK start(PINIT_ONCE, PVOID, PVOID*) {
  g_slot = TlsAlloc();
  if (g_slot == TLS_OUT_OF_INDEXES || pthread_key_create(&g_key, free_copies) != 0) std::abort();
  return TRUE;
}

std::uintptr_t number_of(__emutls_object* object) {
  InitOnceExecuteOnce(&g_once, start, nullptr, nullptr);
  AcquireSRWLockExclusive(&g_numbering);
  std::uintptr_t number = object->offset;
  if (number == 0) {
    number = ++g_variables;
    __atomic_store_n(&object->offset, number, __ATOMIC_RELEASE);
  }
  ReleaseSRWLockExclusive(&g_numbering);
  return number;
}

// The thread's table, grown to hold the variable numbered `number`.
Copies* copies_for(std::uintptr_t number) {
  Copies* copies = own_copies();
  const std::uintptr_t had = copies != nullptr ? copies->size : 0;
  if (number <= had) return copies;
  const std::uintptr_t size = number + 32 > 2 * had ? number + 32 : 2 * had;
  void* grown = std::realloc(copies, sizeof(Copies) + size * sizeof(void*));
  if (grown == nullptr) std::abort();
  copies = static_cast<Copies*>(grown);
  std::memset(copies->at() + had, 0, (size - had) * sizeof(void*));
  copies->size = size;
  set_own_copies(copies);
  return copies;
}

// A new copy of the variable, as its object says: aligned, and its initial bytes. The block as allocated
// is kept just before it, for the clean-up.
void* new_copy(const __emutls_object* object) {
  const std::uintptr_t align = object->align > sizeof(void*) ? object->align : sizeof(void*);
  char* block = static_cast<char*>(std::malloc(object->size + sizeof(void*) + align - 1));
  if (block == nullptr) std::abort();
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
  void* copy = reinterpret_cast<void*>((first + align - 1) & ~(align - 1));
  static_cast<void**>(copy)[-1] = block;
  if (object->templ != nullptr) {
    std::memcpy(copy, object->templ, object->size);
  } else {
    std::memset(copy, 0, object->size);
  }
  return copy;
}

[[gnu::noinline]] void* first_use(__emutls_object* object) {
  // Subtle: the caller may be between a failed system call and its question for the error.
  const DWORD error = GetLastError();
  const std::uintptr_t number = number_of(object);
  Copies* copies = copies_for(number);
  void*& copy = copies->at()[number - 1];
  if (copy == nullptr) copy = new_copy(object);
  SetLastError(error);
  return copy;
}

// The thread's copy of the variable numbered `number` where it has one, else nullptr.
void* existing_copy(Copies* copies, std::uintptr_t number) {
  return copies != nullptr && number <= copies->size ? copies->at()[number - 1] : nullptr;
}

// Any slot, and a variable's first use on the thread.
[[gnu::noinline]] void* copy_of(__emutls_object* object) {
  const std::uintptr_t number = __atomic_load_n(&object->offset, __ATOMIC_ACQUIRE);
  if (void* copy = number != 0 ? existing_copy(own_copies(), number) : nullptr) return copy;
  return first_use(object);
}

}  // namespace

extern "C" void* __emutls_get_address(__emutls_object* object) {
  // Subtle: a number seen here was given after the slot was made (release and acquire). Where the slot
  // is among the first 64, the way is a few loads and no call.
  const std::uintptr_t number = __atomic_load_n(&object->offset, __ATOMIC_ACQUIRE);
  if (number != 0 && g_slot < 64) [[likely]] {
    if (void* copy = existing_copy(static_cast<Copies*>(slot_value(g_slot)), number)) [[likely]]
      return copy;
  }
  return copy_of(object);
}

// A variable defined in several objects (common) takes the largest size and alignment among them.
extern "C" void __emutls_register_common(__emutls_object* object, std::uintptr_t size, std::uintptr_t align,
                                         void* templ) {
  if (object->size < size) {
    object->size = size;
    object->templ = nullptr;
  }
  if (object->align < align) object->align = align;
  if (templ != nullptr && size == object->size) object->templ = templ;
}
