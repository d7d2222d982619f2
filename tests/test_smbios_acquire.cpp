// Filling the identity record once per process, from the firmware table
// service or from a scan of the BIOS area.
#include <cstring>
#include <string>

#include "hwio/port_io.h"
#include "sim/scenario.h"
#include "smbios/dmi_decode.h"
#include "smbios/smbios_acquire.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using sim::Bytes;
using sim::Structure;
using sim::TableBuilder;
using smbios::Dmi;

constexpr char kKernel32[] = "C:\\Windows\\system32\\kernel32.dll";

constexpr char kFirmwareLines[] =
    "hwtk3 get dmi manufacturer: Quorvex Computer Inc.\n"
    "hwtk3 get dmi product name: Quorvex Aero 14 K5402\n"
    "hwtk3 get dmi sn: QV5402K0217A88\n"
    "hwtk3 get dmi sku number: K5402ZA-QV14\n"
    "hwtk3 get dmi board serial number: ZelkaK5402-0217A88\n";

class AcquireTest : public NotebookTest {
protected:
    int PhysicalReads() const {
        int reads = 0;
        for (const auto& e : sim::Current().trace.Events()) reads += e.kind == sim::Event::Kind::PhysicalRead;
        return reads;
    }
    // Serves `table` with the given version bytes.
    void Serve(std::uint8_t major, std::uint8_t minor, const TableBuilder& b) {
        nb().firmware.rsmb = sim::RsmbAnswer(major, minor, b.Table());
    }
    void PlaceAt(std::uint32_t address, const Bytes& bytes) {
        nb().memory.Write(address, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
};

TEST_F(AcquireTest, FirmwarePathFillsFiveFieldsOncePerProcess) {
    Capture();
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    EXPECT_EQ(Output(), kFirmwareLines);
    EXPECT_TRUE(smbios::DmiReady());
    EXPECT_EQ(Dmi().SystemSku, "K5402ZA-QV14");
    EXPECT_EQ(Dmi().BiosVendor, "");  // nothing else is decoded on this path
    EXPECT_EQ(PhysicalReads(), 0);
    EXPECT_EQ(platform::testing::ModuleReferences(kKernel32), 0);

    const int calls = nb().firmware.calls;
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(nb().firmware.calls, calls);
    EXPECT_EQ(nb().driver.initializeCalls, 0);
}

TEST_F(AcquireTest, FirmwarePathGatesSystemFieldsOnTheVersion) {
    struct Case {
        std::uint8_t major, minor;
    };
    const TableBuilder b = TableBuilder()
                               .Add(sim::SystemInformation("Quorvex", "Aero", "1", "SN", {}, "SKU", "F"))
                               .Add(sim::BaseboardInformation("Q", "B", "1", "BSN", ""));
    const std::string all =
        "hwtk3 get dmi manufacturer: Quorvex\nhwtk3 get dmi product name: Aero\nhwtk3 get dmi sn: SN\n";
    const std::string board = "hwtk3 get dmi board serial number: BSN\n";
    const Case cases[] = {{2, 0}, {1, 9}, {2, 1}, {2, 4}, {2, 5}, {3, 0}, {3, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        Serve(c.major, c.minor, b);
        smbios::SmbiosFirmwareTable table;
        ASSERT_TRUE(table.Fetch());
        smbios::SystemInfoView view;
        ASSERT_TRUE(table.ReadSystemInfo(view));
        const bool ids = c.major > 2 || (c.major == 2 && c.minor >= 1);
        const bool sku = c.major > 2 || (c.major == 2 && c.minor >= 5);
        EXPECT_EQ(view.Manufacturer != nullptr, ids);
        EXPECT_EQ(view.SkuNumber != nullptr, sku);
        if (sku) EXPECT_STREQ(view.Family, "F");
    }
    // The export at 2.4: no SKU line; the board serial number has no gate.
    Serve(2, 4, b);
    Capture();
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    EXPECT_EQ(Output(), all + board);
    EXPECT_EQ(Dmi().SystemSku, "");
}

TEST_F(AcquireTest, FirmwarePathAtVersion20CopiesOnlyTheBoardSerial) {
    sim::ApplyScenarios(nb(), "legacy-bios");
    Capture();
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    EXPECT_EQ(Output(), "hwtk3 get dmi board serial number: ZelkaK5402-0217A88\n");
    EXPECT_EQ(Dmi().SystemManufacturer, "");
}

TEST_F(AcquireTest, FirmwarePathSkipsZeroAndMissingIndexesAndKeepsBytes) {
    Serve(2, 8, TableBuilder()
                    .Add(Structure(1).Byte(0).Text("Aero\t14").Byte(0).Byte(9).Raw(Bytes(17, 0)).Byte(3).Byte(0)
                             .ExtraText("x"))
                    .Add(sim::BaseboardInformation("Q", "B", "1", "", "")));
    Dmi().SystemManufacturer = "kept";
    Capture();
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    // Index 9 and the SKU's index 3 name no text; the tab is copied as it is.
    EXPECT_EQ(Output(), "hwtk3 get dmi product name: Aero\t14\n");
    EXPECT_EQ(Dmi().SystemManufacturer, "kept");
    EXPECT_EQ(Dmi().SystemSerialNumber, "");
}

TEST_F(AcquireTest, FailedFetchStillCountsAsFilled) {
    struct Case {
        const char* name;
        void (*arrange)(sim::Notebook&);
        const char* output;
    };
    const Case cases[] = {
        {"kernel32 missing", [](sim::Notebook&) { platform::testing::OverrideModulePath(kKernel32, ""); },
         "Failed to load kernel32.dll\nFailed to fetch smbios data!\n"},
        {"export missing", [](sim::Notebook& n) { n.firmware.exported = false; },
         "Failed to get procedure address of GetSystemFirmwareTable\nFailed to fetch smbios data!\n"},
        {"allocation fails", [](sim::Notebook&) { smbios::testing::FailFirmwareAllocation(true); },
         "Failed to allocate memroy to store smbios data!\nFailed to fetch smbios data!\n"},
        {"second call answers 0", [](sim::Notebook& n) { n.firmware.fillFails = true; },
         "Get zero size of smbios data\nFailed to fetch smbios data!\n"},
        {"no table", [](sim::Notebook& n) { n.firmware.rsmb.clear(); },
         "Get zero size of smbios data\nFailed to fetch smbios data!\n"},
        {"answer shorter than its header", [](sim::Notebook& n) { n.firmware.rsmb = {0, 2, 8, 0, 0}; },
         "Failed to fetch smbios data!\n"},
    };
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Notebook& n = sim::ResetCurrent();
        c.arrange(n);
        smbios::SmbiosFirmwareTable table;
        EXPECT_FALSE(table.Fetch());
        EXPECT_EQ(table.FindStructure(1), nullptr);
        EXPECT_EQ(platform::testing::ModuleReferences(kKernel32), 0);
        Output();
        EXPECT_EQ(smbios::fill_from_firmware(), 0);
        EXPECT_EQ(Output(), c.output);
        EXPECT_EQ(Dmi().SystemManufacturer, "");
        platform::testing::OverrideModulePath(kKernel32, nullptr);
        smbios::testing::FailFirmwareAllocation(false);
    }
    EXPECT_TRUE(smbios::DmiReady());
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(Output(), "");
}

TEST_F(AcquireTest, LookupsStayInsideTheAnswer) {
    const Bytes system = sim::SystemInformation("Quorvex", "Aero", "1", "SN", {}, "SKU", "F").Encode();
    const Bytes board = sim::BaseboardInformation("Q", "B", "1", "BSN", "").Encode();
    auto answer = [](const Bytes& table) { return sim::RsmbAnswer(3, 2, table); };
    smbios::SmbiosFirmwareTable t;

    // Structures are stepped over, including an end-of-table one.
    Bytes table = sim::EndOfTable().Encode();
    table.insert(table.end(), board.begin(), board.end());
    Bytes a = answer(table);
    ASSERT_TRUE(t.Adopt(a.data(), a.size()));
    EXPECT_NE(t.FindStructure(2), nullptr);
    smbios::BaseboardInfoView bv;
    ASSERT_TRUE(t.ReadBaseboardInfo(bv));
    EXPECT_STREQ(bv.SerialNumber, "BSN");
    EXPECT_STREQ(bv.LocationInChassis, "MIDDLE");
    EXPECT_EQ(bv.ChassisHandle, 3);

    // Cut anywhere inside the type-1 structure, nothing is found.
    for (std::size_t cut = 0; cut < system.size(); ++cut) {
        Bytes part(system.begin(), system.begin() + static_cast<std::ptrdiff_t>(cut));
        a = answer(part);
        ASSERT_TRUE(t.Adopt(a.data(), a.size()));
        smbios::SystemInfoView sv;
        EXPECT_FALSE(t.ReadSystemInfo(sv)) << cut;
    }

    // One past the last text and beyond: no text.
    a = answer(system);
    ASSERT_TRUE(t.Adopt(a.data(), a.size()));
    const std::uint8_t* s = t.FindStructure(1);
    ASSERT_NE(s, nullptr);
    const std::uint8_t* strings = s + s[1];
    EXPECT_STREQ(t.GetString(strings, 6), "F");
    EXPECT_EQ(t.GetString(strings, 7), nullptr);
    EXPECT_EQ(t.GetString(strings, 255), nullptr);

    // A type-1 structure too short for the fields its version would have.
    a = answer(Structure(1).Text("Quorvex").Byte(0).Byte(0).Encode());
    ASSERT_TRUE(t.Adopt(a.data(), a.size()));
    smbios::SystemInfoView sv;
    ASSERT_TRUE(t.ReadSystemInfo(sv));
    EXPECT_EQ(sv.Manufacturer, nullptr);
    EXPECT_FALSE(t.Adopt(a.data(), 7));
}

TEST_F(AcquireTest, ScanDecodesTheSmbiosEntryPointAndReleasesTheBinding) {
    Bind();
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(Output(),
              "WinRing0 has been initialized. No need to initialize again\n"
              "5F 53 4D 5F --> SMIBIOS\n"
              "major ver: 2, minor ver: 8\n"
              "smbios_decode\n"
              "dmi_table\n"
              "mem_chunk, base=0xCBF3A000, len=900\n"
              "ReadPhysicalMemory: Address 0xCBF3A000, length 900\n"
              "shutdown IO library\n"
              "IO driver is going to release...\n");
    EXPECT_FALSE(hwio::HwioReady());
    EXPECT_TRUE(smbios::DmiReady());
    EXPECT_EQ(Dmi().SystemSku, "90QV0A71-M00120");
    EXPECT_EQ(Dmi().BiosVersion, "K5402ZA.308");
    EXPECT_EQ(nb().trace.Lines().front(), "phys f0000 65535");

    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(nb().driver.initializeCalls, 1);
}

TEST_F(AcquireTest, ScanFailuresReturnMinusOneAndAllowARetry) {
    nb().driver.initializeFails = true;
    Capture();
    EXPECT_EQ(Diag_FillDMIData(true), -1);
    EXPECT_EQ(Output(), "preparing to initialize WinRing0\nFailed to init WinRing0!\nFailed to init IO library!\n");
    EXPECT_FALSE(smbios::DmiReady());

    sim::Notebook& n = sim::ResetCurrent();
    sim::ApplyScenarios(n, "bios-unreadable");
    EXPECT_EQ(Diag_FillDMIData(true), -1);
    EXPECT_EQ(Output(),
              "preparing to initialize WinRing0\nWinRing0 was initialized\n"
              "Failed to read DMI memory!\nIO driver is going to release...\n");
    EXPECT_FALSE(smbios::DmiReady());
    EXPECT_FALSE(hwio::HwioReady());

    n.memory.faultySize = 0;
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(Dmi().SystemManufacturer, "Quorvex Computer Inc.");
}

// A failed read takes down only a binding the call brought up itself; the
// host's own binding stays usable.
TEST_F(AcquireTest, FailedBiosReadReleasesOnlyTheBindingItBroughtUp) {
    struct Case {
        const char* name;
        bool hostBound;
        bool (*fill)();
        const char* output;
    };
    const auto fillDmi = [] { return Diag_FillDMIData(true) == -1; };
    const auto checkMachine = [] { return !Diag_CheckMachine(true); };
    const char* const fresh =
        "preparing to initialize WinRing0\nWinRing0 was initialized\n"
        "Failed to read DMI memory!\nIO driver is going to release...\n";
    const char* const kept = "WinRing0 has been initialized. No need to initialize again\nFailed to read DMI memory!\n";
    const Case cases[] = {
        {"fill, unbound", false, fillDmi, fresh},
        {"fill, host bound", true, fillDmi, kept},
        {"machine check, unbound", false, checkMachine, fresh},
        {"machine check, host bound", true, checkMachine, kept},
    };
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Notebook& n = sim::ResetCurrent();
        sim::ApplyScenarios(n, "bios-unreadable");
        if (c.hostBound) ASSERT_EQ(Diag_InitHWIO(), 1);
        Output();
        EXPECT_TRUE(c.fill());
        EXPECT_EQ(Output(), c.output);
        EXPECT_FALSE(smbios::DmiReady());
        EXPECT_EQ(hwio::HwioReady(), c.hostBound);
        EXPECT_EQ(platform::testing::ModuleReferences("WinRing0.dll"), c.hostBound ? 1 : 0);
        EXPECT_EQ(n.driver.deinitializeCalls, c.hostBound ? 0 : 1);
        EXPECT_EQ(n.driver.initializeCalls, 1);
        Diag_FreeHWIO();
    }
    // The host's binding that survived still serves the scan once the area
    // can be read, and that scan releases it.
    sim::Notebook& n = sim::ResetCurrent();
    sim::ApplyScenarios(n, "bios-unreadable");
    ASSERT_EQ(Diag_InitHWIO(), 1);
    ASSERT_EQ(Diag_FillDMIData(true), -1);
    n.memory.faultySize = 0;
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(n.driver.initializeCalls, 1);
    EXPECT_FALSE(hwio::HwioReady());
    EXPECT_EQ(Dmi().SystemManufacturer, "Quorvex Computer Inc.");
}

TEST_F(AcquireTest, ScanFindsEveryEntryPointButNotTheIntermediateAnchor) {
    sim::ApplyScenarios(nb(), "two-entry-points");
    Capture();
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    const std::string out = Output();
    EXPECT_EQ(out.find("preparing to initialize WinRing0\nWinRing0 was initialized\n"
                       "Legacy BIOS\nLegacy DMI 2.8 present.\ndmi_table\n"),
              0u)
        << out;
    auto count = [&out](const std::string& what) {
        int n = 0;
        for (auto at = out.find(what); at != std::string::npos; at = out.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("dmi_table\n"), 2);
    EXPECT_EQ(count("Legacy BIOS\n"), 1);
    // Both decodes of the one table fill the memory device slots.
    EXPECT_EQ(Dmi().MemoryDeviceSize, (std::array<std::uint32_t, 4>{0x4000, 0x4000, 0x4000, 0x4000}));
}

// Sets the byte at `fix` so that the `count` bytes from `from` sum to zero.
void Rebalance(Bytes& entry, std::size_t from, std::size_t count, std::size_t fix) {
    std::uint8_t sum = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (i != fix) sum = static_cast<std::uint8_t>(sum + entry[i]);
    }
    entry[fix] = static_cast<std::uint8_t>(0x100 - sum);
}

// Each broken "_SM_" entry point breaks exactly one check: every other
// check holds, so taking its own check out of smbios_decode makes the
// entry point decode.
TEST_F(AcquireTest, BrokenEntryPointsAreSkipped) {
    std::uint16_t count = 0;
    const Bytes table = sim::MachineTable(sim::MachineIdentity{}, count);
    const Bytes good = sim::SmbiosEntryPoint(2, 8, sim::kTableAddress, static_cast<std::uint16_t>(table.size()), count);
    constexpr std::size_t kLength = 0x05, kFirstSum = 0x04, kAnchor = 0x10, kSecondSum = 0x15, kSecondSize = 15;
    // The highest paragraph an "_SM_" entry point may use: 32 bytes of the
    // copy are left from there, the last of them the copy's zero byte.
    constexpr std::uint32_t kTop = 0xFFFE0;
    constexpr std::size_t kLeft = 0x20;
    struct Case {
        const char* name;
        void (*spoil)(Bytes&);
        bool decodes;
    };
    const Case cases[] = {
        {"intact", [](Bytes&) {}, true},
        {"first checksum", [](Bytes& e) { ++e[kFirstSum]; }, false},
        {"intermediate anchor",
         [](Bytes& e) {
             e[kAnchor + 2] = 'X';
             Rebalance(e, kAnchor, kSecondSize, kSecondSum);
             Rebalance(e, 0, e[kLength], kFirstSum);
         },
         false},
        {"intermediate checksum",
         [](Bytes& e) {
             ++e[kSecondSum];
             Rebalance(e, 0, e[kLength], kFirstSum);
         },
         false},
        {"length up to the copy's last byte",
         [](Bytes& e) {
             e[kLength] = kLeft;
             Rebalance(e, 0, e[kLength], kFirstSum);
         },
         true},
        {"length one past the copy",
         [](Bytes& e) {
             e[kLength] = kLeft + 1;
             Rebalance(e, 0, e[kLength], kFirstSum);
         },
         false},
        {"length 255",
         [](Bytes& e) {
             e[kLength] = 0xFF;
             Rebalance(e, 0, e[kLength], kFirstSum);
         },
         false},
    };
    const std::string decoded =
        "dmi_table\nmem_chunk, base=0xCBF3A000, len=900\nReadPhysicalMemory: Address 0xCBF3A000, length 900\n";
    Capture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Zero bytes after the entry point: what a checksum past the copy
        // would add if smbios_decode read there.
        Bytes entry = good;
        entry.resize(0x100, 0);
        c.spoil(entry);
        ASSERT_EQ(Diag_InitHWIO(), 1);
        Output();
        EXPECT_EQ(smbios::smbios_decode(entry.data(), kLeft), c.decodes);
        EXPECT_EQ(Output(), "smbios_decode\n" + (c.decodes ? decoded : ""));

        // The same bytes at the top of the BIOS area, through the scan.
        nb().memory.Fill(sim::kBiosAreaBase, 0, sim::kBiosAreaSize);
        PlaceAt(kTop, Bytes(entry.begin(), entry.begin() + kLeft - 1));
        Dmi().SystemManufacturer.clear();
        Output();
        EXPECT_EQ(smbios::scan_bios_area(), 0);
        EXPECT_EQ(Output(), "WinRing0 has been initialized. No need to initialize again\n"
                            "5F 53 4D 5F --> SMIBIOS\nmajor ver: 2, minor ver: 8\nsmbios_decode\n" +
                                (c.decodes ? decoded : "") + "shutdown IO library\nIO driver is going to release...\n");
        EXPECT_EQ(Dmi().SystemManufacturer, c.decodes ? "Quorvex Computer Inc." : "");
    }
    // A legacy entry point with a bad checksum prints only its anchor line.
    nb().memory.Fill(sim::kBiosAreaBase, 0, sim::kBiosAreaSize);
    Dmi().SystemManufacturer.clear();
    Bytes legacy = sim::LegacyEntryPoint(sim::kTableAddress, static_cast<std::uint16_t>(table.size()), count, 0x21);
    legacy[5] ^= 1;
    PlaceAt(0xF0000, legacy);
    ASSERT_EQ(Diag_InitHWIO(), 1);
    Output();
    EXPECT_EQ(smbios::scan_bios_area(), 0);
    EXPECT_EQ(Output(),
              "WinRing0 has been initialized. No need to initialize again\n"
              "Legacy BIOS\nshutdown IO library\nIO driver is going to release...\n");
    EXPECT_EQ(Dmi().SystemManufacturer, "");
}

TEST_F(AcquireTest, SmbiosAnchorInTheLastParagraphIsNotDecoded) {
    std::uint16_t count = 0;
    const Bytes table = sim::MachineTable(sim::MachineIdentity{}, count);
    nb().memory.Fill(sim::kBiosAreaBase, 0, sim::kBiosAreaSize);
    PlaceAt(0xFFFF0, sim::SmbiosEntryPoint(2, 8, sim::kTableAddress, static_cast<std::uint16_t>(table.size()), count));
    Capture();
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_EQ(Output(),
              "preparing to initialize WinRing0\nWinRing0 was initialized\n"
              "shutdown IO library\nIO driver is going to release...\n");
    EXPECT_EQ(Dmi().SystemManufacturer, "");
    EXPECT_TRUE(smbios::DmiReady());
}

TEST_F(AcquireTest, LegacyOnlyBiosIsDecoded) {
    sim::ApplyScenarios(nb(), "legacy-bios");
    Capture();
    EXPECT_EQ(Diag_FillDMIData(true), 0);
    EXPECT_NE(Output().find("Legacy BIOS\nLegacy DMI 2.0 present.\ndmi_table\n"), std::string::npos);
    EXPECT_EQ(Dmi().SystemManufacturer, "Quorvex Computer Inc.");
    EXPECT_EQ(Dmi().SystemSku, "90QV0A71-M00120");  // type 1 of SMBIOS 2.0 has none; the OEM string gives it
}

// A table of 2.5 or later whose system structure keeps an older, shorter
// layout (and its SKU and family texts in the string set all the same):
// the SKU and family indexes are not in the structure, so neither is taken.
// With the 0x08 layout the bytes where they would be are the next
// structure's handle (1), an index that would name a text.
TEST_F(AcquireTest, FirmwarePathTakesNoSkuOrFamilyFromAShortSystemStructure) {
    auto table = [](std::uint8_t length) {
        Structure system = Structure(1).Text("Q").Text("A").Text("1").Text("S");
        if (length >= 0x19) system.Raw(Bytes(16, 0x5A)).Byte(0x06);
        system.ExtraText("SKU").ExtraText("F");
        return TableBuilder().Add(system).Add(sim::BaseboardInformation("Q", "B", "1", "BSN", ""));
    };
    for (const std::uint8_t length : {std::uint8_t{0x08}, std::uint8_t{0x19}}) {
        SCOPED_TRACE("length " + std::to_string(length));
        Serve(2, 8, table(length));
        smbios::SmbiosFirmwareTable firmware;
        ASSERT_TRUE(firmware.Fetch());
        smbios::SystemInfoView view;
        ASSERT_TRUE(firmware.ReadSystemInfo(view));
        EXPECT_EQ(view.Length, length);
        EXPECT_STREQ(view.SerialNumber, "S");
        EXPECT_EQ(view.SkuNumberIndex, 0);
        EXPECT_EQ(view.FamilyIndex, 0);
        EXPECT_EQ(view.SkuNumber, nullptr);
        EXPECT_EQ(view.Family, nullptr);
    }
    Serve(2, 8, table(0x08));
    Capture();
    EXPECT_EQ(Diag_FillDMIData(false), 0);
    EXPECT_EQ(Output(),
              "hwtk3 get dmi manufacturer: Q\nhwtk3 get dmi product name: A\nhwtk3 get dmi sn: S\n"
              "hwtk3 get dmi board serial number: BSN\n");
    EXPECT_EQ(Dmi().SystemSku, "");
}

}  // namespace
}  // namespace hwtk3::test
