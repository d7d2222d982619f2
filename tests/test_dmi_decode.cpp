// Decoding of a structure table into the identity record.
#include <string>
#include <vector>

#include "smbios/dmi_decode.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using sim::Bytes;
using sim::Structure;
using sim::TableBuilder;
using smbios::Dmi;

constexpr std::uint32_t kAt = 0x7A000;  // where the tests place their tables

// Decodes a table as dmi_table does once it has the copy.
void Decode(const TableBuilder& builder, int count = -1) {
    Bytes table = builder.Table();
    smbios::decode_table(table.data(), table.size(),
                         static_cast<std::uint16_t>(count < 0 ? builder.Count() : count));
}

Structure System(std::uint8_t length, const std::string& manufacturer = "Quorvex") {
    Structure s(1);
    s.Text(manufacturer).Text("Aero 14").Text("1.0").Text("SN1");
    const Bytes uuid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    if (length >= 0x18) s.Raw(uuid);
    if (length >= 0x19) s.Byte(6);
    if (length >= 0x1B) s.Text("SKU-1").Text("Aero");
    return s;
}

class DmiDecodeTest : public NotebookTest {};

TEST_F(DmiDecodeTest, SystemFieldsFollowTheStructureLength) {
    struct Case {
        std::uint8_t length;
        bool uuid;
        bool skuAndFamily;
    };
    for (const Case& c : {Case{0x18, false, false}, Case{0x19, true, false}, Case{0x1B, true, true}}) {
        SCOPED_TRACE(static_cast<int>(c.length));
        Dmi() = smbios::DmiData{};
        Decode(TableBuilder().Add(System(c.length)));
        EXPECT_EQ(Dmi().SystemManufacturer, "Quorvex");
        EXPECT_EQ(Dmi().SystemProductName, "Aero 14");
        EXPECT_EQ(Dmi().SystemVersion, "1.0");
        EXPECT_EQ(Dmi().SystemSerialNumber, "SN1");
        EXPECT_EQ(Dmi().SystemUuid[15], c.uuid ? 16 : 0);
        EXPECT_EQ(Dmi().SystemSku, c.skuAndFamily ? "SKU-1" : "");
        EXPECT_EQ(Dmi().SystemFamily, c.skuAndFamily ? "Aero" : "");
    }
}

TEST_F(DmiDecodeTest, TextsAreMadePrintableAndBadIndexesNamed) {
    Decode(TableBuilder().Add(System(0x1B, "Quor\tvex\xE9\x7F!")));
    EXPECT_EQ(Dmi().SystemManufacturer, "Quor.vex..!");

    // Manufacturer index 0; product index 5 with only two texts present.
    Decode(TableBuilder().Add(Structure(1).Byte(0).Byte(5).Byte(1).Byte(2).ExtraText("v1").ExtraText("s1")));
    EXPECT_EQ(Dmi().SystemManufacturer, "Not Specified");
    EXPECT_EQ(Dmi().SystemProductName, "<BAD INDEX>");
    EXPECT_EQ(Dmi().SystemVersion, "v1");
    EXPECT_EQ(Dmi().SystemSerialNumber, "s1");

    // A structure with no texts at all.
    Decode(TableBuilder().Add(Structure(2).Byte(1).Byte(1).Byte(0).Byte(2)));
    EXPECT_EQ(Dmi().BoardManufacturer, "<BAD INDEX>");
    EXPECT_EQ(Dmi().BoardVersion, "Not Specified");
}

TEST_F(DmiDecodeTest, SlotsSkipEmptyDevicesAndIgnoreAFifth) {
    TableBuilder b;
    const std::uint16_t sizes[] = {0x2000, 0, 0x1000, 0x0800, 0x0400, 0x0200};
    for (std::uint16_t size : sizes) b.Add(sim::MemoryDevice("DIMM", size, 3200));
    for (int i = 0; i < 5; ++i) b.Add(sim::MemoryModule("M" + std::to_string(i), 60, 0x0B, 0x0B));
    Decode(b);
    EXPECT_EQ(Dmi().MemoryDeviceSize, (std::array<std::uint32_t, 4>{0x2000, 0x1000, 0x0800, 0x0400}));
    EXPECT_EQ(Dmi().MemoryDeviceSpeed[3], 3200u);
    EXPECT_EQ(Dmi().MemoryDimm, (std::array<std::string, 4>{"M0", "M1", "M2", "M3"}));
    EXPECT_EQ(Dmi().MemoryInstalledSize[0], 2048);

    // Only the keys are cleared: the next structures start at slot 1 again.
    smbios::reset_dmi_slots();
    EXPECT_EQ(Dmi().MemoryDimm[2], "M2");
    Decode(TableBuilder().Add(sim::MemoryDevice("X", 0x0100, 2400)));
    EXPECT_EQ(Dmi().MemoryDeviceSize, (std::array<std::uint32_t, 4>{0x0100, 0, 0, 0}));
}

TEST_F(DmiDecodeTest, CacheOfZeroSizeLeavesItsSlotFree) {
    Decode(TableBuilder()
               .Add(sim::CacheInformation("L1", 0x0040, 0x0000, 0))
               .Add(sim::CacheInformation("L2", 0x0400, 0x0400, 5))
               .Add(sim::CacheInformation("L3", 0x8100, 0x8100, 0)));
    EXPECT_EQ(Dmi().CacheSocket[0], "L2");
    EXPECT_EQ(Dmi().CacheCurrentSpeed[0], 5u);
    EXPECT_EQ(Dmi().CacheInstalledSize[1], 256u * 64u);
    EXPECT_EQ(Dmi().CacheInstalledSize[2], 0u);
}

TEST_F(DmiDecodeTest, OemStringsFillSlotsAndTheThirdBecomesTheSku) {
    Decode(TableBuilder().Add(System(0x1B)).Add(sim::OemStrings({"one", "two"})));
    EXPECT_EQ(Dmi().OemString[1], "two");
    EXPECT_EQ(Dmi().OemString[2], "");
    EXPECT_EQ(Dmi().SystemSku, "SKU-1");

    Decode(TableBuilder().Add(System(0x1B)).Add(sim::OemStrings({"a", "b", "90QV", "d", "e", "f"})));
    EXPECT_EQ(Dmi().OemString, (std::array<std::string, 4>{"a", "b", "90QV", "d"}));
    EXPECT_EQ(Dmi().SystemSku, "90QV");

    // A system structure later in the table wins.
    Decode(TableBuilder().Add(sim::OemStrings({"a", "b", "90QV"})).Add(System(0x1B)));
    EXPECT_EQ(Dmi().SystemSku, "SKU-1");
}

TEST_F(DmiDecodeTest, WalkEndsAtCountEndOfTableOrTableEnd) {
    auto products = [](int count, bool endAfter30) {
        TableBuilder b;
        for (int i = 1; i <= count; ++i) {
            if (endAfter30 && i == 31) b.Add(sim::EndOfTable());
            b.Add(Structure(1).Text("Q").Text("P" + std::to_string(i)).Text("").Text(""));
        }
        return b;
    };
    Decode(products(35, true), 40);
    EXPECT_EQ(Dmi().SystemProductName, "P30");
    Decode(products(10, false), 5);
    EXPECT_EQ(Dmi().SystemProductName, "P5");

    // Last structure's string set never ends: not decoded, walk ends.
    Bytes table = products(3, false).Table();
    table.resize(table.size() - 2);
    table.push_back('x');
    Dmi().SystemProductName.clear();
    smbios::decode_table(table.data(), table.size(), 3);
    EXPECT_EQ(Dmi().SystemProductName, "P2");
}

TEST_F(DmiDecodeTest, StructuresShorterThanTheirTypeAreIgnored) {
    Decode(TableBuilder()
               .Add(Structure(0).Text("V").Text("1").Word(0xF000).Text("d").Byte(3).LengthByte(0x11).Raw(Bytes(8, 0)))
               .Add(Structure(4).Text("S").Raw(Bytes(0x14, 0)))  // length 0x19
               .Add(Structure(11).LengthByte(4).ExtraText("x"))
               .Add(Structure(5).Text("ignored")));
    EXPECT_EQ(Dmi().BiosVendor, "");
    EXPECT_EQ(Dmi().ProcessorSocket, "");
    EXPECT_EQ(Dmi().OemString[0], "");
    // One byte more is enough.
    Decode(TableBuilder().Add(Structure(4).Text("S").Raw(Bytes(0x15, 0))));
    EXPECT_EQ(Dmi().ProcessorSocket, "S");
}

TEST_F(DmiDecodeTest, SizeCodes) {
    const std::pair<std::uint8_t, std::int32_t> modules[] = {
        {0x00, 1}, {0x0E, 16384}, {0x8E, 16384}, {0x1E, 1 << 30}, {0x1F, -1},
        {0x7C, -1}, {0x7D, -1}, {0x7E, -2}, {0x7F, -3}, {0xFF, -3}};
    for (const auto& [code, mb] : modules) EXPECT_EQ(smbios::memory_module_size(code), mb) << int(code);
    const std::pair<std::uint16_t, std::uint32_t> caches[] = {
        {0x0200, 512}, {0x8010, 1024}, {0x8400, 65536}, {0xFFFF, 0x7FFFu * 64}, {0x7FFF, 0x7FFF}};
    for (const auto& [code, kb] : caches) EXPECT_EQ(smbios::cache_size(code), kb) << code;
}

TEST_F(DmiDecodeTest, DecodesTheDefaultMachineFromPhysicalMemory) {
    std::uint16_t count = 0;
    const Bytes table = sim::MachineTable(sim::MachineIdentity{}, count);
    nb().memory.Write(kAt, table.data(), static_cast<std::uint32_t>(table.size()));
    Bind();
    smbios::dmi_table(kAt, static_cast<std::uint16_t>(table.size()), count);
    const std::string len = std::to_string(table.size());
    EXPECT_EQ(Output(), "dmi_table\nmem_chunk, base=0x7A000, len=" + len +
                            "\nReadPhysicalMemory: Address 0x7A000, length " + len + "\n");
    const smbios::DmiData& d = Dmi();
    EXPECT_EQ(d.BiosVendor, "Quorvex Computer Inc.");
    EXPECT_EQ(d.BiosDate, "03/14/2023");
    EXPECT_EQ(d.BiosAddress, 0xF000u);
    EXPECT_EQ(d.BiosRomSize, 16384u);
    EXPECT_EQ(d.BoardSerialNumber, "ZelkaK5402-0217A88");
    EXPECT_EQ(d.ChassisSerialNumber, "QV5402K0217A88");
    EXPECT_EQ(d.ProcessorVersion, "QuantaSil Core q7-1260P");
    EXPECT_EQ(d.ProcessorId[0], 0xA3);
    EXPECT_EQ(d.ProcessorMaxSpeed, 4700);
    EXPECT_EQ(d.CacheInstalledSize, (std::array<std::uint32_t, 4>{640, 9216, 12288, 0}));
    EXPECT_EQ(d.MemoryDeviceSize, (std::array<std::uint32_t, 4>{0x4000, 0x4000, 0, 0}));
    EXPECT_EQ(d.SystemSku, "90QV0A71-M00120");
    EXPECT_EQ(d.SystemFamily, "Quorvex Aero");
}

TEST_F(DmiDecodeTest, UnreadableTableLeavesTheRecord) {
    nb().memory.faultyBase = kAt;
    nb().memory.faultySize = 0x100;
    Dmi().SystemManufacturer = "kept";
    Bind();
    smbios::dmi_table(kAt, 0x40, 2);
    EXPECT_EQ(Output(),
              "dmi_table\n"
              "mem_chunk, base=0x7A000, len=64\n"
              "ReadPhysicalMemory: Address 0x7A000, length 64\n"
              "ReadPhysicalMemory error! ret_len = 0\n"
              "Table is not reachable, exit!\n");
    EXPECT_EQ(Dmi().SystemManufacturer, "kept");
}

}  // namespace
}  // namespace hwtk3::test
