/* The player check on a Cortex-M0 (the BBC micro:bit board of
   qemu-system-arm): a vector table, a reset that sets up memory, and lines
   out through semihosting. */
#include <stdint.h>
#include <string.h>

extern uint32_t __data_load[], __data_start[], __data_end[], __bss_start[], __bss_end[];
extern uint32_t __stack_top[];
int main(void);

enum { kSysWrite0 = 0x04, kSysExit = 0x18, kApplicationExit = 0x20026 };

static void semihost(uint32_t operation, const void* argument) {
  register uint32_t r0 __asm__("r0") = operation;
  register const void* r1 __asm__("r1") = argument;
  __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
}

void device_print(const char* line) {
  semihost(kSysWrite0, line);
}

void device_exit(void) {
  semihost(kSysExit, (const void*)kApplicationExit);
  for (;;) {
  }
}

static void reset(void) {
  memcpy(__data_start, __data_load, (size_t)((char*)__data_end - (char*)__data_start));
  memset(__bss_start, 0, (size_t)((char*)__bss_end - (char*)__bss_start));
  main();
  device_exit();
}

__attribute__((section(".vectors"), used)) static const uintptr_t vectors[2] = {
    (uintptr_t)__stack_top, (uintptr_t)reset};
