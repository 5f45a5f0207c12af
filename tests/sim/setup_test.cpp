// The simulated USER32 LoadStringA and lstrcmpiA, the SETUPAPI INF store and device
// installer, and the service control manager: the behaviour that the install, the
// removal pass and the device helper rely on, and the failures they must survive.
#include <cstring>
#include <filesystem>
#include <string>

#include "devices/device_classes.h"
#include "platform/platform.h"
#include "platform/sim/paths.h"
#include "resources/string_ids.h"
#include "tests/support/sim_machine.h"

namespace {

using namespace std::string_literals;
using SetupAndStrings = SimMachineTest;

std::string Error(DWORD code) {
  return "error " + std::to_string(code);
}

TEST_F(SetupAndStrings, LoadStringCutsTheTextToTheBufferAndReadsGapsAsEmpty) {
  const struct {
    UINT id;
    int capacity;
    std::string filled;  // "<result> <buffer>", the buffer one byte longer than its stated capacity
    DWORD error;
  } rows[] = {
      {IDS_PRODUCT_NAME, 9, "8 qnetprep\0#"s, 0},
      {IDS_PRODUCT_NAME, 8, "7 qnetpre\0#"s, 0},
      {IDS_PRODUCT_NAME, 1, "0 \0#"s, 0},
      {0, 3, "0 \0###"s, 0},                                // gaps in the table's one block
      {100, 3, "0 \0###"s, ERROR_RESOURCE_NAME_NOT_FOUND},  // a block the table does not have
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    SetLastError(0);
    std::string buffer(row.capacity + 1, '#');
    const int loaded = LoadStringA(GetModuleHandleA(nullptr), row.id, buffer.data(), row.capacity);
    EXPECT_EQ(std::to_string(loaded) + " " + buffer, row.filled);
    EXPECT_EQ(GetLastError(), row.error);
  }

  EXPECT_EQ(lstrcmpiA("PCI\\VEN_1E7C&DEV_4C43", "pci\\ven_1e7c&dev_4c43"), 0);
}

// An INF that opens in the Windows NT style; `tag` keeps contents apart (one copy each).
std::string Inf(const std::string& tag, const std::string& moreVersionLines = "") {
  return "; " + tag + "\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n" + moreVersionLines;
}

// The stored path, "" when the call succeeded without one, or "error <code>".
std::string CopyOem(const std::string& source, DWORD style) {
  char destination[MAX_PATH] = "";
  const BOOL ok =
      SetupCopyOEMInfA(source.c_str(), nullptr, SPOST_PATH, style, destination, MAX_PATH, nullptr, nullptr);
  return ok ? std::string(destination) : Error(GetLastError());
}

int StoredCount() {
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(sim::MachineFolder() + "/drive_c/Windows/INF")) {
    count += entry.path().extension() == ".inf" ? 1 : 0;
  }
  return count;
}

TEST_F(SetupAndStrings, StoresEachContentOnceUnderTheFirstFreeOemName) {
  WriteFile("C:\\pkg\\net7341a.inf", Inf("first"));
  WriteFile("C:\\pkg\\net73417.inf", Inf("second"));
  const struct {
    const char* source;
    DWORD style;
    const char* stored;
  } steps[] = {
      // An install calls twice, catalog only and then in full: the first call stores
      // nothing and names only what is stored already.
      {"C:\\pkg\\net7341a.inf", SP_COPY_OEMINF_CATALOG_ONLY, ""},
      {"C:\\pkg\\net7341a.inf", 0, "C:\\Windows\\INF\\oem0.inf"},
      {"C:\\pkg\\net73417.inf", 0, "C:\\Windows\\INF\\oem1.inf"},
      {"C:\\pkg\\net73417.inf", SP_COPY_OEMINF_CATALOG_ONLY, "C:\\Windows\\INF\\oem1.inf"},
      {"C:\\pkg\\net73417.inf", 0, "C:\\Windows\\INF\\oem1.inf"},
      {"C:\\pkg\\none.inf", 0, "error 2"},
      {"C:\\nofolder\\none.inf", 0, "error 3"},
      {"C:\\pkg", 0, "error 5"},
      {"net7341a.inf", 0, "error 2"},  // only a full path names the source
  };
  for (const auto& step : steps) EXPECT_EQ(CopyOem(step.source, step.style), step.stored) << step.source;
  EXPECT_EQ(StoredCount(), 2);
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem0.inf"), Inf("first"));
  EXPECT_TRUE(FileExists("C:\\Windows\\INF\\oem0.pnf"));

  // A gap left by a deleted copy is filled first.
  ASSERT_TRUE(DeleteFileA("C:\\Windows\\INF\\oem0.inf"));
  WriteFile("C:\\pkg\\third.inf", Inf("third"));
  EXPECT_EQ(CopyOem("C:\\pkg\\third.inf", 0), "C:\\Windows\\INF\\oem0.inf");
  EXPECT_EQ(ReadFile("C:\\Windows\\INF\\oem0.inf"), Inf("third"));
}

TEST_F(SetupAndStrings, RefusesTextThatIsNotAWindowsNtInf) {
  const std::string signature = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
  const std::pair<std::string, DWORD> refused[] = {
      {"", ERROR_FILE_INVALID},
      {"[Version]\nSignature=\"$Windows 2000$\"\n", ERROR_WRONG_INF_STYLE},
      {"[Strings]\nSignature=\"$Windows NT$\"\n", ERROR_WRONG_INF_STYLE},
      // Windows gives this one ERROR_WRONG_INF_STYLE; Wine gives ERROR_EXPECTED_SECTION_NAME.
      {"abcd\r\n", ERROR_WRONG_INF_STYLE},
      {"garbage\r\n" + signature, ERROR_EXPECTED_SECTION_NAME},
      {signature + "[Manufacturer\r\n", ERROR_BAD_SECTION_NAME_LINE},
      {signature + "[" + std::string(256, 'a') + "]\r\n", ERROR_SECTION_NAME_TOO_LONG},
  };
  for (const auto& [text, error] : refused) {
    WriteFile("C:\\pkg\\bad.inf", text);
    EXPECT_EQ(CopyOem("C:\\pkg\\bad.inf", 0), Error(error)) << text;
  }
  EXPECT_EQ(StoredCount(), 0);

  // Any case of a known signature, with or without quotes, after a comment; text
  // before a first [Strings] section; [Version] split in two.
  const std::string accepted[] = {
      "; comment\n[version]\nsignature=$chicago$ ; trailing\n",
      "[Version]\nSignature=\"$WINDOWS 95$\",extra\n",
      "stray\n[Strings]\nx=y\n" + signature,
      "[Version]\nClass=Net\n[Other]\n[VERSION]\nSignature=$Windows NT$\n",
  };
  int stored = 0;
  for (const std::string& text : accepted) {
    WriteFile("C:\\pkg\\good.inf", text);
    EXPECT_EQ(CopyOem("C:\\pkg\\good.inf", 0), "C:\\Windows\\INF\\oem" + std::to_string(stored++) + ".inf")
        << text;
  }
}

// The catalog that [Version] names is installed with the INF, from the INF's folder.
TEST_F(SetupAndStrings, TheNamedCatalogMustStandBesideTheInfAndAFaultStoresNothing) {
  WriteFile("C:\\pkg\\net73417.inf", Inf("b", "CatalogFile = \"RX90KW2K.CAT\" ; signed\r\n"));
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", SP_COPY_OEMINF_CATALOG_ONLY), "error 2");
  EXPECT_EQ(StoredCount(), 0);
  WriteFile("C:\\pkg\\rx90kw2k.cat", "catalog");  // names match without regard to case
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", SP_COPY_OEMINF_CATALOG_ONLY), "");
  sim::FailCall("SetupCopyOEMInfA", sim::Fault{0xE0000100u}, 3);
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), Error(0xE0000100u));
  EXPECT_EQ(StoredCount(), 0) << "a faulted call stores nothing";
  EXPECT_EQ(CopyOem("C:\\pkg\\net73417.inf", 0), "C:\\Windows\\INF\\oem0.inf");
}

constexpr const char* kNet = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string kFirst = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0";
const std::string kSecond = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E1";
const std::string kThird = "PCI\\VEN_8086&DEV_10D3&SUBSYS_00008086&REV_00\\3&11583659&0&C8";

// "<instance id> <description or error>" of every element of the set, joined by '|'.
std::string Listing(HDEVINFO set) {
  std::string listing;
  SP_DEVINFO_DATA record = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &record); ++index) {
    char id[512];
    BYTE text[512];
    EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &record, id, sizeof id, nullptr));
    const bool described = SetupDiGetDeviceRegistryPropertyA(set, &record, SPDRP_DEVICEDESC, nullptr, text,
                                                             sizeof text, nullptr);
    listing += (index > 0 ? "|" : "") + std::string(id) + " " +
               (described ? reinterpret_cast<const char*>(text) : Error(GetLastError()));
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  return listing;
}

std::string Present(const GUID& classGuid) {
  HDEVINFO set = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT);
  const std::string listing = Listing(set);
  SetupDiDestroyDeviceInfoList(set);
  return listing;
}

// Creates and registers one device as the device helper does: "" or the error.
std::string Create(const GUID& classGuid, const char* id, const char* description) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
  SP_DEVINFO_DATA data = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  const auto text = reinterpret_cast<const BYTE*>(description);
  const DWORD size = static_cast<DWORD>(std::strlen(description) + 1);
  const bool ok = SetupDiCreateDeviceInfoA(set, id, &classGuid, nullptr, nullptr, 0, &data) &&
                  SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_DEVICEDESC, text, size) &&
                  SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr);
  const std::string outcome = ok ? "" : Error(GetLastError());
  SetupDiDestroyDeviceInfoList(set);
  return outcome;
}

TEST_F(SetupAndStrings, ASetHoldsThePresentDevicesOfOneClassInRegistryOrder) {
  AddDevice(kNet, kThird, "Third");
  AddDevice("{4D36E97E-E325-11CE-BFC1-08002BE10318}", "PCI\\VEN_10EC&DEV_5229\\4&3&0&00E5", "Card reader");
  AddDevice(kNet, kSecond, nullptr);
  AddDevice("{4d36e972-e325-11ce-bfc1-08002be10318}", kFirst, "Orvix adapter");  // any case
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  EXPECT_EQ(Listing(set),
            kFirst + " Orvix adapter|" + kSecond + " " + Error(ERROR_INVALID_DATA) + "|" + kThird + " Third");
  // An identifier fits with its NUL or reports the size it needs.
  SP_DEVINFO_DATA record = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &record));
  const DWORD idSize = static_cast<DWORD>(kFirst.size() + 1);
  char id[512];
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set, &record, id, idSize - 1, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, idSize);
  EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set, &record, id, idSize, nullptr));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  ExpectNoOpenHandles();
}

TEST_F(SetupAndStrings, ARemovedDeviceKeepsItsPlaceInTheSetAndTakesItsKeyWhenLast) {
  AddDevice(kNet, kFirst, "First");
  AddDevice(kNet, kSecond, "Second");
  AddDevice(kNet, kThird, "Third");
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA first = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  SP_DEVINFO_DATA third = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &first));
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &third));
  EXPECT_EQ(SetupDiRemoveDevice(set, &first), 1);
  EXPECT_FALSE(SetupDiRemoveDevice(set, &first));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_EQ(SetupDiRemoveDevice(set, &third), 1);
  const std::string gone = " " + Error(ERROR_NO_SUCH_DEVINST);
  EXPECT_EQ(Listing(set), kFirst + gone + "|" + kSecond + " Second|" + kThird + gone);
  SetupDiDestroyDeviceInfoList(set);
  // Another instance of a device leaves its device key; the last one takes it along.
  const std::string pci = "SYSTEM\\CurrentControlSet\\Enum\\PCI\\";
  EXPECT_TRUE(KeyExists(pci + "VEN_1E7C&DEV_4C43&SUBSYS_00011E7C&REV_01"));
  EXPECT_FALSE(KeyExists(pci + "VEN_8086&DEV_10D3&SUBSYS_00008086&REV_00"));
  EXPECT_EQ(Present(GUID_DEVCLASS_NET), kSecond + " Second");

  // A faulted call does not act.
  sim::ResetCalls();
  sim::FailCall("SetupDiGetClassDevsA", sim::Fault{}, 1);
  sim::FailCall("SetupDiRemoveDevice", sim::Fault{0, true, 2});
  EXPECT_EQ(SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_CLASS);
  set = SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &first));
  EXPECT_EQ(SetupDiRemoveDevice(set, &first), 2);
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_TRUE(DeviceExists(kSecond));
  ExpectNoOpenHandles();
}

TEST_F(SetupAndStrings, ServicesOpenByNameInAnyCaseAndAreDeletedOnce) {
  AddService("RX90K");
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  const auto open = [manager](const char* name) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    return service != nullptr ? "ok" : Error(GetLastError());
  };
  EXPECT_EQ(open(""), Error(ERROR_INVALID_NAME));
  SC_HANDLE first = OpenServiceA(manager, "rx90k", SERVICE_ALL_ACCESS);
  SC_HANDLE second = OpenServiceA(manager, "RX90K", SERVICE_ALL_ACCESS);
  EXPECT_EQ(sim::OpenServiceHandleCount(), 3);
  EXPECT_TRUE(DeleteService(first));
  EXPECT_FALSE(ServiceExists("RX90K"));
  EXPECT_FALSE(DeleteService(second));
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(open("RX90K"), Error(ERROR_SERVICE_DOES_NOT_EXIST));
  for (SC_HANDLE handle : {second, first, manager}) EXPECT_TRUE(CloseServiceHandle(handle));
  ExpectNoOpenHandles();
}

TEST_F(SetupAndStrings, ACreatedDeviceIsPresentInItsClassAndRefusedTwice) {
  const char* adapter = "PCI\\VEN_1E7C&DEV_4C43&SUBSYS_73411E7C&REV_10\\4&2B8260C3&0&00E4";
  EXPECT_EQ(Create(GUID_DEVCLASS_NET, adapter, "Orvix RX90K"), "");
  EXPECT_EQ(Present(GUID_DEVCLASS_NET), std::string(adapter) + " Orvix RX90K");
  // What Windows refuses: the same instance in any case, and malformed identifiers.
  const std::string again = "pci\\ven_1e7c&dev_4c43&subsys_73411e7c&rev_10\\4&2b8260c3&0&00e4";
  EXPECT_EQ(Create(GUID_DEVCLASS_NET, again.c_str(), ""), Error(ERROR_DEVINST_ALREADY_EXISTS));
  for (const char* id : {"PCI\\VEN_1E7C", "PCI\\\\0", "PCI\\VEN 1E7C\\0", "PCI\\A,B\\0", "A\\B\\"}) {
    EXPECT_EQ(Create(GUID_DEVCLASS_NET, id, ""), Error(ERROR_INVALID_DEVINST_NAME)) << id;
  }
  ExpectNoOpenHandles();
}

}  // namespace
