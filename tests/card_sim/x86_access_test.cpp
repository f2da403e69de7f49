// The decoding of the instructions that touch the card window: the forms compilers emit for a
// 32-bit load or store through a pointer are taken with their exact length and register, and
// everything else is refused.
#include <gtest/gtest.h>

#include <vector>

#include "tools/card_sim/x86_access.h"

namespace {

struct accepted_case {
    std::vector<std::uint8_t> code;
    x86_access_kind kind;
    unsigned reg;
    std::size_t length;
    std::uint32_t immediate;
};

TEST(X86Access, DecodesEveryAddressingForm) {
    const std::vector<accepted_case> cases = {
        {{0x8B, 0x07}, x86_access_kind::load, 0, 2, 0},                      // mov eax,[rdi]
        {{0x44, 0x8B, 0x40, 0x08}, x86_access_kind::load, 8, 4, 0},          // mov r8d,[rax+8]
        {{0x8B, 0x87, 0xF0, 0x01, 0x00, 0x00}, x86_access_kind::load, 0, 6, 0},  // [rdi+0x1f0]
        {{0x8B, 0x84, 0x24, 0xF0, 0x01, 0x00, 0x00}, x86_access_kind::load, 0, 7, 0},  // [rsp+d32]
        {{0x42, 0x8B, 0x04, 0x88}, x86_access_kind::load, 0, 4, 0},          // [rax+r9*4]
        {{0x8B, 0x04, 0x25, 0x00, 0x10, 0x00, 0x00}, x86_access_kind::load, 0, 7, 0},  // [d32]
        {{0x8B, 0x05, 0x10, 0x00, 0x00, 0x00}, x86_access_kind::load, 0, 6, 0},  // [rip+d32]
        {{0x41, 0x8B, 0x45, 0x00}, x86_access_kind::load, 0, 4, 0},          // [r13+0]
        {{0x45, 0x8B, 0x7C, 0x24, 0x08}, x86_access_kind::load, 15, 5, 0},   // r15d,[r12+8]
        {{0x89, 0x50, 0x08}, x86_access_kind::store, 2, 3, 0},               // mov [rax+8],edx
        {{0x44, 0x89, 0x70, 0x08}, x86_access_kind::store, 14, 4, 0},        // mov [rax+8],r14d
        {{0x64, 0x89, 0x38}, x86_access_kind::store, 7, 3, 0},               // fs: mov [rax],edi
        {{0xC7, 0x40, 0x0C, 0x02, 0x00, 0x00, 0x00}, x86_access_kind::store_imm, 0, 7, 2},
        {{0xC7, 0x80, 0xE0, 0x01, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12},
         x86_access_kind::store_imm, 0, 10, 0x12345678},
        {{0x41, 0xC7, 0x04, 0x24, 0x01, 0x00, 0x00, 0x00}, x86_access_kind::store_imm, 0, 8, 1},
    };
    for (const accepted_case& c : cases) {
        std::vector<std::uint8_t> code = c.code;
        code.resize(16, 0x90);  // whatever follows must not count
        x86_access access;
        ASSERT_TRUE(decode_x86_access(code.data(), code.size(), access)) << c.code.size();
        EXPECT_EQ(access.kind, c.kind);
        EXPECT_EQ(access.length, c.length);
        if (c.kind == x86_access_kind::store_imm) {
            EXPECT_EQ(access.immediate, c.immediate);
        } else {
            EXPECT_EQ(access.reg, c.reg);
        }
    }
}

TEST(X86Access, RefusesOtherWidthsAndInstructions) {
    const std::vector<std::vector<std::uint8_t>> refused = {
        {0x48, 0x8B, 0x07},        // 64-bit load
        {0x66, 0x8B, 0x07},        // 16-bit load
        {0x8A, 0x07},              // byte load
        {0x0F, 0xB6, 0x07},        // movzx
        {0x89, 0xC0},              // register to register
        {0xF0, 0x01, 0x07},        // locked add
        {0xC7, 0x48, 0x08, 0, 0, 0, 0},  // C7 /1 is no move
        {0x03, 0x07},              // add eax,[rdi]
    };
    for (const auto& bytes : refused) {
        std::vector<std::uint8_t> code = bytes;
        code.resize(16, 0x90);
        x86_access access;
        EXPECT_FALSE(decode_x86_access(code.data(), code.size(), access))
            << "first byte " << int{bytes[0]};
    }
    // Cut short: the immediate is not there.
    const std::uint8_t cut[] = {0xC7, 0x40, 0x0C, 0x02};
    x86_access access;
    EXPECT_FALSE(decode_x86_access(cut, sizeof cut, access));
}

}  // namespace
