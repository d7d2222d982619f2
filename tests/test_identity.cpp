// Identity queries and the machine check.
#include <cstring>
#include <string>

#include "sim/scenario.h"
#include "smbios/dmi_decode.h"
#include "smbios/identity.h"
#include "tests/support.h"

namespace hwtk3::test {
namespace {

using smbios::Dmi;

class IdentityTest : public NotebookTest {};

TEST_F(IdentityTest, ClassifiesByManufacturerAndBoardSerial) {
    EXPECT_EQ(Diag_GetMachineType(), 0);
    Capture();
    ASSERT_TRUE(Diag_CheckMachine(false));
    const std::string first = Output();
    ASSERT_NE(first.find("finished"), std::string::npos) << first;
    EXPECT_EQ(first.substr(first.find("finished")),  // after the firmware path's lines
              "finished to get dmi data\n"
              "Model name: Quorvex Aero 14 K5402\n"
              "Manufacturer: Quorvex Computer Inc.\n"
              "Board SN: ZelkaK5402-0217A88\n"
              "machine type: 0\n");

    // The record is filled now; each row checks the stored record again.
    struct Case {
        const char* manufacturer;
        const char* product;
        const char* boardSerial;
        bool accepted;
        int type;  // MachineType afterwards
    };
    const Case cases[] = {
        {"Quorvex Computer Inc.", "Aero", "QVMB-0217", true, 1},
        {"The Quorvex Group", "Aero", "MB Zelka rev B", true, 0},
        {"quorvex computer", "Aero", "QVMB", false, 0},        // case matters; type kept
        {"Quorvex", "Zelka Aero", "QVMB", true, 1},            // only the board serial counts
        {"QUORVEX", "Aero", "Zelka", false, 1},
        {"Quorvex", "Aero", "zelka", true, 1},
        {"Not Specified", "Aero", "Zelka", false, 1},
        {"", "", "", false, 1},
        {"Quorvex", "", "Zelka", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.manufacturer) + " / " + c.boardSerial);
        Dmi().SystemManufacturer = c.manufacturer;
        Dmi().SystemProductName = c.product;
        Dmi().BoardSerialNumber = c.boardSerial;
        EXPECT_EQ(Diag_CheckMachine(true), c.accepted);
        EXPECT_EQ(Diag_GetMachineType(), c.type);
        std::string expected = std::string("finished to get dmi data\nModel name: ") + c.product +
                               "\nManufacturer: " + c.manufacturer + "\nBoard SN: " + c.boardSerial + "\n";
        if (c.accepted) expected += "machine type: " + std::to_string(c.type) + "\n";
        EXPECT_EQ(Output(), expected);
    }
    EXPECT_EQ(nb().driver.initializeCalls, 0);  // never scanned
}

TEST_F(IdentityTest, FailedFetchRejectsWithoutScanningLater) {
    sim::ApplyScenarios(nb(), "no-smbios");
    Capture();
    EXPECT_FALSE(Diag_CheckMachine(false));
    EXPECT_EQ(Output(),
              "Get zero size of smbios data\nFailed to fetch smbios data!\n"
              "finished to get dmi data\nModel name: \nManufacturer: \nBoard SN: \n");
    EXPECT_FALSE(Diag_CheckMachine(true));
    EXPECT_EQ(nb().driver.initializeCalls, 0);
    EXPECT_EQ(Diag_GetMachineType(), 0);
}

TEST_F(IdentityTest, FailedScanReturnsFalseAndKeepsTheType) {
    smbios::testing::SetMachineType(1);
    nb().driver.initializeFails = true;
    Capture();
    EXPECT_FALSE(Diag_CheckMachine(true));
    EXPECT_EQ(Output().find("finished"), std::string::npos);
    EXPECT_EQ(Diag_GetMachineType(), 1);
}

TEST_F(IdentityTest, ScanOfAMachineWithoutZelkaGivesTypeOneAndThe90Code) {
    sim::ApplyScenarios(nb(), "machine-type-1");
    Capture();
    EXPECT_TRUE(Diag_CheckMachine(true));
    EXPECT_EQ(Diag_GetMachineType(), 1);
    std::string code = "previous";
    Diag_Get90Code(code);
    EXPECT_EQ(code, "90QV0A71-M00120");
}

TEST_F(IdentityTest, TextQueriesAreBoundedCopies) {
    // Not filled yet: size NUL bytes.
    char buffer[80];
    std::memset(buffer, 'x', sizeof buffer);
    Diag_GetProductName(buffer, 8);
    EXPECT_EQ(std::string(buffer, 9), std::string(8, '\0') + "x");

    Dmi().SystemManufacturer = "Quorvex Computer Inc";  // 20 characters
    Dmi().BoardSerialNumber = "ZelkaK5402";
    struct Case {
        int size;
        std::string written;  // then untouched 'x' bytes
    };
    const Case cases[] = {{4, "Quor"},
                          {20, "Quorvex Computer Inc"},
                          {64, "Quorvex Computer Inc" + std::string(44, '\0')},
                          {0, ""},
                          {-5, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::memset(buffer, 'x', sizeof buffer);
        Diag_GetManufacturer(buffer, c.size);
        EXPECT_EQ(std::string(buffer, c.written.size()), c.written);
        EXPECT_EQ(buffer[c.written.size()], 'x');
    }
    std::memset(buffer, 'x', sizeof buffer);
    Diag_GetBoardSN(buffer, 11);
    EXPECT_EQ(std::string(buffer, 12), std::string("ZelkaK5402") + '\0' + 'x');
    Diag_GetManufacturer(nullptr, 10);  // nothing to write to
}

TEST_F(IdentityTest, LongTextsAreReadAsTerminatedTexts) {
    ASSERT_EQ(Diag_FillDMIData(false), 0);
    Dmi().SystemManufacturer = "Quorvex " + std::string(300, 'M');
    Dmi().SystemProductName = std::string(256, 'P') + "tail";
    Dmi().BoardSerialNumber = std::string(251, 'B') + "Zelka";  // exactly 256
    Capture();
    EXPECT_TRUE(Diag_CheckMachine(false));
    EXPECT_EQ(Diag_GetMachineType(), 0);
    EXPECT_EQ(Output(), "finished to get dmi data\nModel name: " + std::string(256, 'P') +
                            "\nManufacturer: Quorvex " + std::string(248, 'M') + "\nBoard SN: " +
                            std::string(251, 'B') + "Zelka\nmachine type: 0\n");
    EXPECT_EQ(std::memcmp(smbios::ModelName().data(), std::string(256, 'P').data(), 256), 0);

    // The word lies beyond the 256 characters that are looked at.
    Dmi().SystemManufacturer = std::string(256, 'M') + "Quorvex";
    EXPECT_FALSE(Diag_CheckMachine(false));
}

}  // namespace
}  // namespace hwtk3::test
