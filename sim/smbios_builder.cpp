#include "sim/smbios_builder.h"

#include <cstring>

namespace hwtk3::sim {
namespace {

constexpr std::uint8_t kHeaderSize = 4;

// Entry point layouts.
constexpr std::uint8_t kSmEntryPointLength = 0x1F;
constexpr std::uint8_t kSmEntryPointRevision = 0x00;
constexpr std::size_t kSmChecksumOffset = 0x04;
constexpr std::size_t kDmiEntryPointLength = 0x0F;
constexpr std::size_t kDmiChecksumOffset = 0x05;

void PutWord(Bytes& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutDword(Bytes& bytes, std::uint32_t value) {
    PutWord(bytes, static_cast<std::uint16_t>(value));
    PutWord(bytes, static_cast<std::uint16_t>(value >> 16));
}

// Sets bytes[at] so that bytes[from, from + count) sums to 0.
void FixChecksum(Bytes& bytes, std::size_t from, std::size_t count, std::size_t at) {
    bytes[at] = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    bytes[at] = static_cast<std::uint8_t>(0x100 - sum);
}

// The legacy DMI block: anchor, checksum, table length, address, count,
// revision.
Bytes DmiBlock(std::uint32_t tableAddress, std::uint16_t tableLength, std::uint16_t count,
               std::uint8_t bcdRevision) {
    Bytes block = {'_', 'D', 'M', 'I', '_', 0};
    PutWord(block, tableLength);
    PutDword(block, tableAddress);
    PutWord(block, count);
    block.push_back(bcdRevision);
    FixChecksum(block, 0, kDmiEntryPointLength, kDmiChecksumOffset);
    return block;
}

}  // namespace

Structure::Structure(std::uint8_t type) : type_(type) {}

Structure& Structure::Byte(std::uint8_t value) {
    fields_.push_back(value);
    return *this;
}

Structure& Structure::Word(std::uint16_t value) {
    PutWord(fields_, value);
    return *this;
}

Structure& Structure::Dword(std::uint32_t value) {
    PutDword(fields_, value);
    return *this;
}

Structure& Structure::Raw(const Bytes& bytes) {
    fields_.insert(fields_.end(), bytes.begin(), bytes.end());
    return *this;
}

Structure& Structure::Text(const std::string& text) {
    if (text.empty()) return Byte(0);
    strings_.push_back(text);
    return Byte(static_cast<std::uint8_t>(strings_.size()));
}

Structure& Structure::ExtraText(const std::string& text) {
    strings_.push_back(text);
    return *this;
}

Structure& Structure::LengthByte(std::uint8_t length) {
    lengthOverride_ = length;
    return *this;
}

Bytes Structure::Encode(std::uint16_t handle) const {
    const auto length = lengthOverride_ >= 0 ? static_cast<std::uint8_t>(lengthOverride_)
                                             : static_cast<std::uint8_t>(kHeaderSize + fields_.size());
    Bytes bytes = {type_, length};
    PutWord(bytes, handle);
    bytes.insert(bytes.end(), fields_.begin(), fields_.end());
    for (const std::string& text : strings_) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    if (strings_.empty()) bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

Structure BiosInformation(const std::string& vendor, const std::string& version, const std::string& date,
                          std::uint16_t segment, std::uint8_t romSizeCode) {
    Structure s(0);
    s.Text(vendor).Text(version).Word(segment).Text(date).Byte(romSizeCode);
    s.Dword(0x0B9D9880).Dword(0x00000000);  // characteristics: PCI, upgradeable, shadowing, boot from CD, EDD
    s.Byte(0x33).Byte(0x0D);                // extension bytes: ACPI, USB legacy; UEFI, virtual machine bits clear
    s.Byte(3).Byte(8).Byte(1).Byte(4);       // system BIOS 3.8, EC firmware 1.4
    return s;
}

Structure SystemInformation(const std::string& manufacturer, const std::string& product,
                            const std::string& version, const std::string& serial,
                            const std::array<std::uint8_t, 16>& uuid, const std::string& sku,
                            const std::string& family, std::uint8_t length) {
    Structure s(1);
    s.Text(manufacturer).Text(product).Text(version).Text(serial);
    if (length >= 0x19) {
        s.Raw(Bytes(uuid.begin(), uuid.end()));
        s.Byte(0x06);  // woken by power switch
    }
    if (length >= 0x1B) s.Text(sku).Text(family);
    return s;
}

Structure BaseboardInformation(const std::string& manufacturer, const std::string& product,
                               const std::string& version, const std::string& serial,
                               const std::string& assetTag) {
    Structure s(2);
    s.Text(manufacturer).Text(product).Text(version).Text(serial).Text(assetTag);
    s.Byte(0x09);                      // hosting board, replaceable
    s.Text("MIDDLE");                  // location in chassis
    s.Word(0x0003);                    // chassis handle
    s.Byte(0x0A);                      // motherboard
    s.Byte(0);                         // no contained objects
    return s;
}

Structure SystemEnclosure(const std::string& manufacturer, const std::string& version,
                          const std::string& serial) {
    Structure s(3);
    s.Text(manufacturer).Byte(0x0A).Text(version).Text(serial).Text("No Asset Tag");
    s.Byte(0x03).Byte(0x03).Byte(0x03).Byte(0x03);  // boot-up, power supply, thermal, security: safe
    s.Dword(0).Byte(0).Byte(1).Byte(0).Byte(3);     // OEM, height, cords, no contained elements
    return s;
}

Structure ProcessorInformation(const std::string& socket, const std::string& manufacturer,
                               const std::array<std::uint8_t, 8>& id, const std::string& version,
                               std::uint16_t externalClock, std::uint16_t maxSpeed, std::uint16_t currentSpeed) {
    Structure s(4);
    s.Text(socket).Byte(0x03).Byte(0xC6).Text(manufacturer).Raw(Bytes(id.begin(), id.end())).Text(version);
    s.Byte(0x8A).Word(externalClock).Word(maxSpeed).Word(currentSpeed);
    s.Byte(0x41).Byte(0x01);                                    // populated, enabled; other upgrade
    s.Word(0x0004).Word(0x0005).Word(0x0006);                   // L1, L2, L3 cache handles
    s.Text("").Text("").Text("").Byte(12).Byte(12).Byte(16);    // serial, asset, part; cores, threads
    s.Word(0x00EC);                                             // 64-bit, multi-core, HT, execute protection
    return s;
}

Structure MemoryModule(const std::string& socket, std::uint8_t speedNs, std::uint8_t installedCode,
                       std::uint8_t enabledCode) {
    Structure s(6);
    s.Text(socket).Byte(0x01).Byte(speedNs).Word(0x0100).Byte(installedCode).Byte(enabledCode).Byte(0);
    return s;
}

Structure CacheInformation(const std::string& socket, std::uint16_t maxSizeWord, std::uint16_t installedWord,
                           std::uint8_t speedNs) {
    Structure s(7);
    s.Text(socket).Word(0x0180).Word(maxSizeWord).Word(installedWord).Word(0x0020).Word(0x0020);
    s.Byte(speedNs).Byte(0x06).Byte(0x05).Byte(0x08);  // single-bit ECC, unified, 8-way
    return s;
}

Structure OemStrings(const std::vector<std::string>& texts) {
    Structure s(11);
    s.Byte(static_cast<std::uint8_t>(texts.size()));
    for (const std::string& text : texts) s.ExtraText(text);
    return s;
}

Structure MemoryDevice(const std::string& locator, std::uint16_t sizeWord, std::uint16_t speedMhz) {
    const bool present = sizeWord != 0;
    Structure s(17);
    s.Word(0x000A).Word(0xFFFE).Word(64).Word(64).Word(sizeWord).Byte(0x0D).Byte(0);
    s.Text(locator).Text("BANK 0").Byte(present ? 0x22 : 0x02).Word(present ? 0x0080 : 0x0004);
    s.Word(speedMhz).Text(present ? "Hollis Memory" : "").Text(present ? "3A1F07C2" : "").Text("");
    s.Text(present ? "HM5S16G48C40-SD" : "").Byte(present ? 2 : 0).Dword(0);
    s.Word(speedMhz).Word(1100).Word(1100).Word(1100);
    return s;
}

Structure EndOfTable() { return Structure(127); }

TableBuilder& TableBuilder::Add(const Structure& structure) {
    const Bytes bytes = structure.Encode(count_);
    table_.insert(table_.end(), bytes.begin(), bytes.end());
    ++count_;
    return *this;
}

TableBuilder& TableBuilder::Add(const Bytes& raw) {
    table_.insert(table_.end(), raw.begin(), raw.end());
    ++count_;
    return *this;
}

Bytes SmbiosEntryPoint(std::uint8_t major, std::uint8_t minor, std::uint32_t tableAddress,
                       std::uint16_t tableLength, std::uint16_t count) {
    Bytes entry = {'_', 'S', 'M', '_', 0, kSmEntryPointLength, major, minor};
    PutWord(entry, 0x0100);  // largest structure
    entry.push_back(kSmEntryPointRevision);
    entry.insert(entry.end(), 5, 0);  // formatted area
    const Bytes block = DmiBlock(tableAddress, tableLength, count, static_cast<std::uint8_t>((major << 4) | minor));
    entry.insert(entry.end(), block.begin(), block.end());
    FixChecksum(entry, 0, kSmEntryPointLength, kSmChecksumOffset);
    return entry;
}

Bytes LegacyEntryPoint(std::uint32_t tableAddress, std::uint16_t tableLength, std::uint16_t count,
                       std::uint8_t bcdRevision) {
    return DmiBlock(tableAddress, tableLength, count, bcdRevision);
}

Bytes RsmbAnswer(std::uint8_t major, std::uint8_t minor, const Bytes& table) {
    Bytes answer = {0, major, minor, 0};
    PutDword(answer, static_cast<std::uint32_t>(table.size()));
    answer.insert(answer.end(), table.begin(), table.end());
    return answer;
}

Bytes MachineTable(const MachineIdentity& id, std::uint16_t& count, bool legacy) {
    const std::array<std::uint8_t, 16> uuid = {0x4C, 0x4C, 0x45, 0x44, 0x00, 0x51, 0x56, 0x10,
                                               0x80, 0x4B, 0xB2, 0xC0, 0x4F, 0x30, 0x32, 0x37};
    const std::array<std::uint8_t, 8> cpuId = {0xA3, 0x06, 0x09, 0x00, 0xFF, 0xFB, 0xEB, 0xBF};
    TableBuilder b;
    if (legacy) {
        b.Add(BiosInformation("Quorvex Computer Inc.", "QV.0207", "11/02/2004", 0xE800, 0x0F)
                  .LengthByte(0x12));
        b.Add(SystemInformation(id.manufacturer, id.product, id.version, id.serial, uuid, id.sku, id.family, 0x08));
    } else {
        b.Add(BiosInformation("Quorvex Computer Inc.", "K5402ZA.308", "03/14/2023", 0xF000, 0xFF));
        b.Add(SystemInformation(id.manufacturer, id.product, id.version, id.serial, uuid, id.sku, id.family));
    }
    b.Add(BaseboardInformation(id.boardManufacturer, id.boardProduct, "1.0", id.boardSerial, "ATN12345678901234567"));
    b.Add(SystemEnclosure(id.manufacturer, "1.0", id.serial));
    b.Add(CacheInformation("L1 Cache", 0x0280, 0x0280, 0));
    b.Add(CacheInformation("L2 Cache", 0x2400, 0x2400, 0));
    b.Add(CacheInformation("L3 Cache", 0x80C0, 0x80C0, 0));  // 12 MB in 64 KB units
    b.Add(ProcessorInformation("U3E1", "QuantaSil", cpuId, "QuantaSil Core q7-1260P", 100, 4700, 2100));
    b.Add(MemoryModule("DIMM0", 0, 0x0E, 0x0E));
    b.Add(Structure(9).Text("M.2 SSD").Byte(0xA5).Byte(0x08).Byte(0x03).Byte(0x04).Word(0x0001).Byte(0x0C)
              .Byte(0x01).Word(0x0000).Byte(0x00).Byte(0x00));
    b.Add(OemStrings({"Quorvex OEM", "QV-PLATFORM K5402", id.ninetyCode, "FPT:16.1.25"}));
    if (!legacy) {
        b.Add(Structure(16).Byte(0x03).Byte(0x03).Byte(0x03).Dword(0x02000000).Word(0xFFFE).Word(2));
        b.Add(MemoryDevice("Controller0-ChannelA-DIMM0", 0x4000, 4800));
        b.Add(MemoryDevice("Controller1-ChannelA-DIMM0", 0x4000, 4800));
        b.Add(Structure(32).Raw(Bytes(6, 0)).Byte(0));
    }
    b.Add(EndOfTable());
    count = b.Count();
    return b.Table();
}

void InstallSmbios(Notebook& notebook, const Bytes& table, std::uint16_t count, const SmbiosLayout& layout) {
    notebook.memory.Fill(kBiosAreaBase, 0, kBiosAreaSize);
    notebook.memory.Write(kTableAddress, table.data(), static_cast<std::uint32_t>(table.size()));
    const auto length = static_cast<std::uint16_t>(table.size());
    if (layout.smbiosEntryPoint) {
        const Bytes entry = SmbiosEntryPoint(layout.major, layout.minor, kTableAddress, length, count);
        notebook.memory.Write(kEntryPointAddress, entry.data(), static_cast<std::uint32_t>(entry.size()));
    }
    if (layout.legacyEntryPoint) {
        const Bytes entry = LegacyEntryPoint(kTableAddress, length, count, layout.legacyRevision);
        notebook.memory.Write(kLegacyEntryPointAddress, entry.data(), static_cast<std::uint32_t>(entry.size()));
    }
    notebook.firmware.rsmb = RsmbAnswer(layout.major, layout.minor, table);
}

void InstallMachine(Notebook& notebook, const MachineIdentity& identity) {
    std::uint16_t count = 0;
    const Bytes table = MachineTable(identity, count);
    InstallSmbios(notebook, table, count, SmbiosLayout{});
}

namespace {
class CurrentNotebookFirmware : public platform::testing::FirmwareTableHost {
public:
    bool Exported() override { return Current().firmware.exported; }
    platform::DWORD GetTable(platform::DWORD provider, platform::DWORD tableId, void* buffer, platform::DWORD size,
                             platform::DWORD& error) override {
        return Current().GetSystemFirmwareTable(provider, tableId, buffer, size, error);
    }
};
}  // namespace

platform::testing::FirmwareTableHost& FirmwareHost() {
    static CurrentNotebookFirmware host;
    return host;
}

}  // namespace hwtk3::sim
