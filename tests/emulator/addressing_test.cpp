#include <gtest/gtest.h>

#include "addressing.h"

namespace dorv::emu {
namespace {

struct AddressCase {
    int address;
    std::uint8_t group;
    std::uint8_t byte;
};

class AddressTable : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressTable, EncodesAndDecodes) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(EncodeAddress(c.address), (AddressBytes{c.group, c.byte}));
    EXPECT_EQ(DecodeAddress(c.group, c.byte), c.address);
}

INSTANTIATE_TEST_SUITE_P(Known, AddressTable,
                         ::testing::Values(AddressCase{1, 2, 0x21}, AddressCase{10, 2, 0x2A}, AddressCase{15, 2, 0x2F},
                                           AddressCase{16, 7, 0x21}, AddressCase{20, 7, 0x25}, AddressCase{27, 7, 0x2C},
                                           AddressCase{29, 7, 0x2E}, AddressCase{30, 7, 0x20}, AddressCase{31, 8, 0x21},
                                           AddressCase{45, 8, 0x20}, AddressCase{46, 9, 0x21}, AddressCase{64, 10, 0x24}));

TEST(Addressing, EveryAddressComesBackFromItsBytes) {
    for (int a = 1; a <= 64; ++a) {
        const AddressBytes ab = EncodeAddress(a);
        EXPECT_EQ(DecodeAddress(ab.group, ab.address), a) << "address " << a;
    }
}

TEST(Addressing, PairsThatNameNoControllerAreRejected) {
    const AddressBytes nobody[] = {
        {2, 0x20},                                              // address 0
        {2, 0x30},                                              // past 15 in group 2
        {2, 0x1F}, {6, 0x21}, {3, 0x21}, {0, 0x21}, {7, 0x2F},  // groups from 7 on use 0x20..0x2E
        {7, 0x57},                                              // a command byte where an address belongs
    };
    for (const AddressBytes& ab : nobody)
        EXPECT_EQ(DecodeAddress(ab.group, ab.address), std::nullopt) << "group " << int(ab.group) << " byte " << int(ab.address);
}

}  // namespace
}  // namespace dorv::emu
