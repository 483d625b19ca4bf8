// Proves the small model under DOSBox for tests/e2e/dosbox: the data segment
// is not the code segment, and it holds the DOS updater's transfer buffer
// beside zlib's arena and everything else. Results as "name=value" words.
//   MODELTST CHILD ZIN ZOUT
// 1. the segments: cs, ds, es, ss and the code's paragraphs (ds - cs);
// 2. memory: the PSP, the program's memory block (from its arena header)
//    and the largest block still free;
// 3. the transfer buffer filled with a pattern, written to BUF.BIN in one
//    DOS call and summed;
// 4. CHILD run by EXEC: its exit code, and the buffer's sum afterwards (the
//    child was loaded above the program's block, not over it);
// 5. ZIN, a zlib stream (window bits 10), inflated through the transfer
//    buffer into ZOUT, zlib's state drawn from the arena;
// 6. flat real mode: the BIOS read through FS and through F000h;
// 7. the stack the run left untouched.
// Exits 0 when every step ran, 1 at the first step that failed.
#include "payload/dos_limits.h"
#include "platform/dos16/dos_call.h"
#include "platform/dos16/flat_memory.h"
#include "platform/dos16/ports.h"
#include "platform/dos16/runtime.h"
#include "tests/dosprog/bios_compare.h"
#include "tests/dosprog/inflate_file.h"

using namespace dos16;
using dosprog::Fail;

namespace {

// What the updater keeps beside its transfer buffer: zlib's state and
// window (8,144 bytes for window bits 10) and a read buffer.
uint8_t transfer[fwpack::kDosTransferSize];
uint8_t arenaMemory[8 * 1024];
uint8_t input[512];

uint16_t Segment(int which) {
    uint16_t value = 0;
    switch (which) {
    case 0: asm("movw %%cs, %0" : "=r"(value)); break;
    case 1: asm("movw %%ds, %0" : "=r"(value)); break;
    case 2: asm("movw %%es, %0" : "=r"(value)); break;
    default: asm("movw %%ss, %0" : "=r"(value)); break;
    }
    return value;
}

void Segments() {
    uint16_t cs = Segment(0), ds = Segment(1);
    Printf("cs=%04X ds=%04X es=%04X ss=%04X code=%u\r\n", cs, ds, Segment(2), Segment(3),
           uint32_t(uint16_t(ds - cs)));
}

// The block's size is the word at 3 in its arena header, the paragraph
// before the PSP; DOS answers an allocation of FFFFh paragraphs with the
// largest free block.
void Memory() {
    uint16_t psp = PspSegment();
    DosRegisters r;
    r.ax = 0x4800;
    r.bx = 0xFFFF;
    CallDos(r);
    Printf("psp=%04X block=%u free=%u\r\n", psp, ReadRealWord(uint16_t(psp - 1), 3),
           uint32_t(r.bx & 0xFFFF));
}

uint32_t Sum() {
    uint32_t sum = 0;
    for (size_t i = 0; i < sizeof transfer; ++i)
        sum = sum * 31 + transfer[i];
    return sum;
}

int Buffer() {
    for (size_t i = 0; i < sizeof transfer; ++i)
        transfer[i] = uint8_t(i * 13 + i / 256);
    int32_t h = CreateFile("BUF.BIN");
    if (h < 0)
        return Fail("create", h);
    int32_t written = WriteFile(int(h), transfer, sizeof transfer);
    CloseFile(int(h));
    if (written != int32_t(sizeof transfer))
        return Fail("write", written);
    Printf("buffer=%u at=%04X sum=%08X\r\n", uint32_t(sizeof transfer),
           uint32_t(reinterpret_cast<uintptr_t>(transfer)), Sum());
    return 0;
}

int Child(const char *program) {
    int32_t code = Execute(program, "BIOS.BIN /P");
    Printf("child=%d after=%08X\r\n", code, Sum());
    return code < 0 ? Fail("exec", code) : 0;
}

// The transfer buffer takes the inflated bytes.
int Inflate(const char *from, const char *to) {
    return dosprog::InflateFile(from, to, {input, sizeof input}, {transfer, sizeof transfer},
                                {arenaMemory, sizeof arenaMemory});
}

int Flat() {
    if (LoadFSLimit4G() != FlatMode::Ready) {
        Print("flat real mode cannot be entered here\r\n");
        return 1;
    }
    Printf("differences=%u\r\n", dosprog::BiosDifferences());
    return 0;
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    if (argc != 4) {
        Print("usage: MODELTST CHILD ZIN ZOUT\r\n");
        return 2;
    }
    Segments();
    Memory();
    int failed = Buffer() || Child(argv[1]) || Inflate(argv[2], argv[3]) || Flat();
    Printf("stack_unused=%u\r\n", uint32_t(StackUnused()));
    return failed;
}
