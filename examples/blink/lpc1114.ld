/* LPC1114FN28/102: 32 KiB flash at 0, 4 KiB RAM at 0x10000000. */
MEMORY
{
  FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 32K
  RAM (rwx)  : ORIGIN = 0x10000000, LENGTH = 4K
}

__stack_top = ORIGIN(RAM) + LENGTH(RAM);

SECTIONS
{
  .text :
  {
    KEEP(*(.vectors))
    *(.text*)
    *(.rodata*)
  } > FLASH
  /DISCARD/ : { *(.ARM.exidx*) *(.comment) }
}
