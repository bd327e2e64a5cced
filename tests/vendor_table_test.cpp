// Vendor strings to ids and back, with the stop rules of each half.
#include "TestSupport.h"

#include "CPUVendor.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string ByID(uint32_t id, bool hypervisor) { return FindVendorByID(id, hypervisor)->vendor; }
const CPUVendorEntry* Row(uint32_t row) { return GetCPUVendorTable() + row; }
}  // namespace

TEST(VendorTable, HasTwentyThreeRowsClosedByTheUnknownRow) {
    uint32_t count = 0;
    const CPUVendorEntry* table = GetCPUVendorTable(&count);
    EXPECT_EQ(23u, count);
    EXPECT_STREQ(table[0].vendor, table[22].vendor);
    EXPECT_STREQ("<Hypervisor>", table[14].vendor);
}

TEST(VendorTable, LookupByIdStaysInItsHalf) {
    EXPECT_EQ("< Unknown > ", ByID(0, false));
    EXPECT_EQ("<Hypervisor>", ByID(0, true));
    EXPECT_EQ("CentaurHauls", ByID(3, false));
    EXPECT_EQ("AuthenticAMD", ByID(2, false));
    EXPECT_EQ("GenuineTMx86", ByID(5, false));
    EXPECT_EQ("< Unknown > ", ByID(12, false));
    EXPECT_EQ("< Unknown > ", ByID(0xFFFFFFFF, false));
    EXPECT_EQ("<Hypervisor>", ByID(3, true));
    EXPECT_EQ(Row(18), FindVendorByID(5, true));
    EXPECT_EQ("KVMKVMKVMKVM", ByID(7, true));
    EXPECT_EQ("<Hypervisor>", ByID(8, true));
}

TEST(VendorTable, LookupByStringComparesTwelveCharactersAndStopsAtTheHalfsEnd) {
    EXPECT_EQ(kVendorAMD, FindVendorByString("AMD ISBETTER", false)->id);
    EXPECT_EQ(kVendorTransmeta, FindVendorByString("TransmetaCPU", false)->id);
    EXPECT_EQ(1u, FindVendorByString("Microsoft Hv", true)->id);
    EXPECT_EQ(Row(0), FindVendorByString("Microsoft Hv", false));
    // Row 14 is compared before the processor search stops.
    EXPECT_EQ(Row(14), FindVendorByString("<Hypervisor>", false));
    EXPECT_EQ(Row(0), FindVendorByString("NoSuchVendor", false));
    EXPECT_EQ(Row(0), FindVendorByString("NoSuchVendor", true));
    // Not NUL-terminated: only twelve characters count.
    const char unterminated[16] = {'G', 'e', 'n', 'u', 'i', 'n', 'e', 'I', 'n', 't', 'e', 'l', 'X', 'Y', 'Z', 'W'};
    EXPECT_EQ(kVendorIntel, FindVendorByString(unterminated, false)->id);
}

TEST(VendorTable, KvmAndXenSignaturesPickTheirFirstMatchingRow) {
    const char kvm[13] = {'K', 'V', 'M', 'K', 'V', 'M', 'K', 'V', 'M', 0, 0, 0, 0};
    EXPECT_EQ(Row(21), FindVendorByString(kvm, true));
    EXPECT_EQ(Row(20), FindVendorByString("KVMKVMKVMKVM", true));
    EXPECT_EQ(Row(17), FindVendorByString("XenVMMXenVMM", true));
}

TEST(VendorTable, ExportedTextsAreTheRowStrings) {
    EXPECT_STREQ("GenuineIntel", GetCPUVendorIDString(kVendorIntel));
    EXPECT_STREQ("Vortex86 SoC", GetCPUVendorIDString(kVendorVortex86));
    EXPECT_STREQ("< Unknown > ", GetCPUVendorIDString(99));
}
