// Blinks an LED on PIO0_7 (pin 28 of the LPC1114FN28) at about 1 Hz, running from the
// 12 MHz internal oscillator. The smallest useful program for trying Korvane on a board.
#include <stdint.h>

#define REG(address) (*(volatile uint32_t*)(address))
#define SYSAHBCLKCTRL REG(0x40048080u)
#define IOCON_PIO0_7 REG(0x4004404Cu)
#define GPIO0_DIR REG(0x50008000u)
#define GPIO0_DATA_PIN7 REG(0x50000000u + ((1u << 7) << 2))  // masked access to bit 7

#define GPIO_CLOCK (1u << 6)
#define IOCON_CLOCK (1u << 16)
#define LED (1u << 7)

static void Delay(uint32_t loops) {
  for (volatile uint32_t i = 0; i < loops; ++i) {
  }
}

void ResetHandler(void) {
  SYSAHBCLKCTRL |= GPIO_CLOCK | IOCON_CLOCK;
  IOCON_PIO0_7 = 0xD0;  // PIO0_7, no pull resistor
  GPIO0_DIR |= LED;
  for (;;) {
    GPIO0_DATA_PIN7 ^= LED;
    Delay(600000);
  }
}

void DefaultHandler(void) {
  for (;;) {
  }
}

extern uint32_t __stack_top;

// The vector table. Entry 7 is filled in after linking with the value that makes the
// first eight entries add up to 0, which the boot ROM checks before it starts a program.
__attribute__((section(".vectors"), used)) static void* const kVectors[16] = {
    &__stack_top,
    ResetHandler,
    DefaultHandler,
    DefaultHandler,
    0,
    0,
    0,
    0,
    0,
    0,
    0,
    DefaultHandler,
    0,
    0,
    DefaultHandler,
    DefaultHandler,
};
