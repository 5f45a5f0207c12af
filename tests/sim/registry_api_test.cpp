// The simulated registry calls, held to what Windows does where a caller can see it:
// results, out-parameters, buffer capacities, handles and faults.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/calls.h"
#include "tests/support/sim_machine.h"

namespace {

using namespace std::string_literals;

constexpr LSTATUS kErrorBadPathname = 161;
constexpr LSTATUS kErrorNoAccess = 998;
constexpr char kUntouched = '#';
const HKEY kSentinelKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x5EED));

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class RegistryApiTest : public SimMachineTest {
 protected:
  HKEY Open(const char* path, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, sam, &key), ERROR_SUCCESS) << path;
    return key;
  }

  std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD size = sizeof name;
      const LSTATUS status = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    return names;
  }

  std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD size = sizeof name;
      const LSTATUS status = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    return names;
  }

  std::vector<uint8_t> Stored(const std::string& keyPath, const std::string& name, uint32_t* type = nullptr) {
    std::vector<uint8_t> data;
    EXPECT_TRUE(GetValue(keyPath, name, type, &data)) << keyPath << ":" << name;
    return data;
  }
};

// ---------------------------------------------------------------- keys and handles

TEST_F(RegistryApiTest, OpensByAnyCaseAndFailsOnAnyMissingLevel) {
  CreateKey("SOFTWARE\\Orvix\\qnetprep");
  HKEY vendor = Open("software\\ORVIX\\");
  HKEY product = nullptr;
  EXPECT_EQ(RegOpenKeyExA(vendor, "QNETPREP", 0, KEY_ALL_ACCESS, &product), ERROR_SUCCESS);
  EXPECT_NE(product, vendor);
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 2);

  HKEY missing = kSentinelKey;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Orvix\\Nope\\qnetprep", 0, KEY_ALL_ACCESS, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr) << "Windows clears the result of a failed open";
  missing = kSentinelKey;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software\\Orvix", 0, KEY_ALL_ACCESS, &missing),
            kErrorBadPathname);
  EXPECT_EQ(missing, nullptr);

  // An empty path gives a new handle to an opened key, and the predefined key itself.
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExA(product, "", 0, KEY_ALL_ACCESS, &again), ERROR_SUCCESS);
  EXPECT_NE(again, product);
  HKEY root = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_ALL_ACCESS, &root), ERROR_SUCCESS);
  EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 3);

  for (HKEY key : {vendor, product, again, root}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(product), ERROR_INVALID_HANDLE) << "closed twice";
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  HKEY stale = kSentinelKey;
  EXPECT_EQ(RegOpenKeyExA(product, "", 0, KEY_ALL_ACCESS, &stale), ERROR_INVALID_HANDLE);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, CreatesEveryMissingLevelAndKeepsTheFirstSpelling) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvix\\qnetprep\\Parameters", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  RegCloseKey(key);

  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\ORVIX", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  HKEY software = Open("SOFTWARE");
  const std::vector<std::string> names = SubkeyNames(software);
  EXPECT_NE(std::find(names.begin(), names.end(), "Orvix"), names.end());
  RegCloseKey(software);

  // 256 characters is the longest key name that Windows and Wine accept.
  const std::string longest(256, 'k');
  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, longest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(created);
  const std::string tooLong = "ok\\" + std::string(257, 'k');
  created = kSentinelKey;
  EXPECT_EQ(RegCreateKeyExA(key, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\ok")) << "a refused path creates no level";
  EXPECT_EQ(RegCreateKeyExA(key, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
            ERROR_BADKEY);
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, EnumeratesSubkeysSortedWithoutRegardToCase) {
  for (const char* name : {"beta", "_under", "Alpha", "gamma", "ALPHA2", "1E7C"}) {
    CreateKey("SOFTWARE\\List\\"s + name);
  }
  HKEY list = Open("SOFTWARE\\List");
  EXPECT_EQ(SubkeyNames(list),
            (std::vector<std::string>{"1E7C", "Alpha", "ALPHA2", "beta", "gamma", "_under"}));

  // The capacity counts the terminating NUL: "Alpha" needs 6.
  char name[8];
  std::memset(name, kUntouched, sizeof name);
  DWORD size = 5;
  FILETIME written{0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(RegEnumKeyExA(list, 1, name, &size, nullptr, nullptr, nullptr, &written), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(name[0], kUntouched);
  size = 6;
  EXPECT_EQ(RegEnumKeyExA(list, 1, name, &size, nullptr, nullptr, nullptr, &written), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(name, "Alpha");
  EXPECT_EQ(name[6], kUntouched);
  EXPECT_EQ(written.dwLowDateTime, 0u);
  EXPECT_EQ(written.dwHighDateTime, 0u);
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(list, 6, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(list);
  ExpectNoOpenHandles();
}

// ---------------------------------------------------------------- values

TEST_F(RegistryApiTest, QueryReturnsTheStoredBytesWithinTheGivenCapacity) {
  std::vector<uint8_t> slot = Bytes("C:\\Windows\\INF\\oem3.inf");
  slot.resize(512, 0);
  SetValueBytes("SOFTWARE\\Orvix\\qnetprep\\Parameters", "RenamedInf", REG_SZ, slot);
  HKEY key = Open("Software\\Orvix\\qnetprep\\Parameters");

  // No buffer: whether the value exists, and its size.
  EXPECT_EQ(RegQueryValueExA(key, "renamedinf", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  DWORD size = 7;
  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 512u);

  std::vector<uint8_t> buffer(600, kUntouched);
  size = 511;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf", nullptr, &type, buffer.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 512u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(buffer[0], kUntouched) << "a buffer too small is left as it was";
  size = 512;
  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf", nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 512u);
  EXPECT_TRUE(std::equal(slot.begin(), slot.end(), buffer.begin()));
  EXPECT_EQ(buffer[512], kUntouched);

  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf", nullptr, nullptr, buffer.data(), nullptr),
            ERROR_INVALID_PARAMETER);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf1", nullptr, nullptr, buffer.data(), &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, StringsWithoutTerminatorBehaveAsOnWindowsNt) {
  CreateKey("SOFTWARE\\T");
  HKEY key = Open("SOFTWARE\\T");
  // The caller counts the text without its NUL: Windows stores the NUL too.
  const char text[] = "qnetprep.exe /u";
  ASSERT_EQ(RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           static_cast<DWORD>(std::strlen(text))),
            ERROR_SUCCESS);
  EXPECT_EQ(Stored("SOFTWARE\\T", "UninstallString"), Bytes("qnetprep.exe /u\0"s));
  // No NUL after the given bytes, or not a string type: stored exactly as given.
  const char unterminated[] = {'a', 'b', 'c', 'X'};
  RegSetValueExA(key, "Cut", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(unterminated), 3);
  EXPECT_EQ(Stored("SOFTWARE\\T", "Cut"), Bytes("abc"));
  RegSetValueExA(key, "Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>(text), 4);
  EXPECT_EQ(Stored("SOFTWARE\\T", "Binary"), Bytes("qnet"));
  EXPECT_EQ(RegSetValueExA(key, "Null", 0, REG_SZ, nullptr, 3), kErrorNoAccess);
  EXPECT_FALSE(GetValue("SOFTWARE\\T", "Null", nullptr, nullptr));

  // Reading such a value back: a NUL is added when the buffer has room for it,
  // and the size reported stays the stored one.
  char buffer[8];
  std::memset(buffer, kUntouched, sizeof buffer);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "Cut", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string(buffer, 4), "abc\0"s);
  std::memset(buffer, kUntouched, sizeof buffer);
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "Cut", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(buffer[3], kUntouched) << "nothing is written past the stated capacity";
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, EnumeratesValuesInOrderWithinBothCapacities) {
  CreateKey("SOFTWARE\\V");
  HKEY key = Open("SOFTWARE\\V");
  const uint8_t four[] = {1, 2, 3, 4};
  RegSetValueExA(key, "Zeta", 0, REG_BINARY, four, 4);
  RegSetValueExA(key, "alpha", 0, REG_BINARY, four, 2);
  RegSetValueExA(key, "ZETA", 0, REG_DWORD, four, 4);  // replaces in place, keeps the name
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Zeta", "alpha"}));

  char name[8];
  uint8_t data[8];
  auto enumerate = [&](DWORD nameCapacity, DWORD dataCapacity, DWORD* nameSize, DWORD* dataSize,
                       DWORD* type) {
    std::memset(name, kUntouched, sizeof name);
    std::memset(data, kUntouched, sizeof data);
    *nameSize = nameCapacity;
    *dataSize = dataCapacity;
    return RegEnumValueA(key, 0, name, nameSize, nullptr, type, data, dataSize);
  };
  DWORD nameSize = 0;
  DWORD dataSize = 0;
  DWORD type = 0;
  EXPECT_EQ(enumerate(5, 4, &nameSize, &dataSize, &type), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Zeta");
  EXPECT_EQ(nameSize, 4u);
  EXPECT_EQ(dataSize, 4u);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(std::memcmp(data, four, 4), 0);
  EXPECT_EQ(name[5], kUntouched);
  EXPECT_EQ(data[4], kUntouched);

  EXPECT_EQ(enumerate(4, 4, &nameSize, &dataSize, &type), ERROR_MORE_DATA) << "no room for the name's NUL";
  EXPECT_EQ(nameSize, 4u);
  EXPECT_EQ(name[4], kUntouched);
  EXPECT_EQ(enumerate(5, 3, &nameSize, &dataSize, &type), ERROR_MORE_DATA) << "data one byte too long";
  EXPECT_EQ(dataSize, 4u) << "the size needed is reported";
  EXPECT_EQ(data[0], kUntouched);

  DWORD onlySize = 0;
  nameSize = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 1, name, &nameSize, nullptr, nullptr, nullptr, &onlySize), ERROR_SUCCESS);
  EXPECT_EQ(onlySize, 2u);
  nameSize = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 2, name, &nameSize, nullptr, nullptr, data, &dataSize), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, RightsOfTheHandleAreChecked) {
  SetString("SOFTWARE\\R", "Name", "value");
  HKEY readOnly = Open("SOFTWARE\\R", KEY_READ);
  const BYTE data[] = "x";
  EXPECT_EQ(RegSetValueExA(readOnly, "New", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExA(readOnly, "Name", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  HKEY setOnly = Open("SOFTWARE\\R", 0x2 /* KEY_SET_VALUE */);
  EXPECT_EQ(RegQueryValueExA(setOnly, "Name", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegSetValueExA(setOnly, "New", 0, REG_SZ, data, 2), ERROR_SUCCESS);
  RegCloseKey(readOnly);
  RegCloseKey(setOnly);
  ExpectNoOpenHandles();
}

// ---------------------------------------------------------------- deletion

TEST_F(RegistryApiTest, DeleteKeyRemovesOnlyKeysWithoutSubkeys) {
  CreateKey("SOFTWARE\\Orvix\\qnetprep\\Parameters");
  CreateKey("SOFTWARE\\Orvix\\qnetprep\\Other");
  HKEY vendor = Open("SOFTWARE\\Orvix");
  EXPECT_EQ(RegDeleteKeyA(vendor, "qnetprep"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  EXPECT_EQ(RegDeleteKeyA(vendor, "QNETPREP\\parameters"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  EXPECT_EQ(RegDeleteKeyA(vendor, "qnetprep\\Parameters"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

  EXPECT_EQ(SHDeleteKeyA(vendor, "qnetprep"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep"));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix"));
  EXPECT_EQ(SHDeleteKeyA(vendor, "qnetprep"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(vendor);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, HandlesToADeletedKeyFailUntilClosed) {
  SetString("SOFTWARE\\Gone\\Child", "Value", "x");
  HKEY parent = Open("SOFTWARE\\Gone");
  HKEY child = Open("SOFTWARE\\Gone\\Child");
  ASSERT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"), ERROR_SUCCESS);

  // A new key of the same name is another key.
  CreateKey("SOFTWARE\\Gone\\Child");
  const BYTE data[] = "y";
  EXPECT_EQ(RegQueryValueExA(child, "Value", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(child, "Value", 0, REG_SZ, data, 2), ERROR_KEY_DELETED);
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  size = sizeof name;
  EXPECT_EQ(RegEnumValueA(child, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  HKEY opened = kSentinelKey;
  EXPECT_EQ(RegOpenKeyExA(parent, "Child", 0, KEY_ALL_ACCESS, &opened), ERROR_KEY_DELETED);
  EXPECT_EQ(opened, nullptr);
  EXPECT_EQ(RegCreateKeyExA(parent, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_KEY_DELETED);
  EXPECT_FALSE(GetValue("SOFTWARE\\Gone\\Child", "Value", nullptr, nullptr));

  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  ExpectNoOpenHandles();
}

// ---------------------------------------------------------------- faults and the call log

TEST_F(RegistryApiTest, AFaultedCallChangesNothing) {
  SetString("SOFTWARE\\Orvix\\qnetprep", "Install", "Success");
  HKEY vendor = Open("SOFTWARE\\Orvix");
  const int openBefore = sim::OpenRegistryKeyCount();
  const BYTE data[] = "Fail";

  sim::FailCall("RegOpenKeyExA", sim::Fault{});
  HKEY result = kSentinelKey;
  EXPECT_EQ(RegOpenKeyExA(vendor, "qnetprep", 0, KEY_ALL_ACCESS, &result),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(result, kSentinelKey);

  sim::FailCall("RegCreateKeyExA", sim::Fault{1234});
  DWORD disposition = 77;
  EXPECT_EQ(RegCreateKeyExA(vendor, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result, &disposition),
            1234);
  EXPECT_EQ(result, kSentinelKey);
  EXPECT_EQ(disposition, 77u);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\New"));

  sim::FailCall("RegSetValueExA", sim::Fault{});
  sim::FailCall("RegDeleteKeyA", sim::Fault{});
  sim::FailCall("SHDeleteKeyA", sim::Fault{});
  sim::FailCall("RegQueryValueExA", sim::Fault{});
  sim::FailCall("RegEnumKeyExA", sim::Fault{0, true, 259});
  EXPECT_NE(RegSetValueExA(vendor, "X", 0, REG_SZ, data, 5), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteKeyA(vendor, "qnetprep"), ERROR_SUCCESS);
  EXPECT_NE(SHDeleteKeyA(vendor, "qnetprep"), ERROR_SUCCESS);
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Success");
  EXPECT_FALSE(GetValue("SOFTWARE\\Orvix", "X", nullptr, nullptr));
  DWORD size = 99;
  EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, nullptr, &size),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(size, 99u);
  char name[16] = "untouched";
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(vendor, 0, name, &size, nullptr, nullptr, nullptr, nullptr), 259);
  EXPECT_STREQ(name, "untouched");
  EXPECT_EQ(size, sizeof name);

  sim::FailCall("RegCloseKey", sim::Fault{});
  EXPECT_NE(RegCloseKey(vendor), ERROR_SUCCESS);
  EXPECT_EQ(sim::OpenRegistryKeyCount(), openBefore) << "a faulted close leaves the handle open";
  sim::ClearFaults();
  EXPECT_EQ(RegCloseKey(vendor), ERROR_SUCCESS);
  ExpectNoOpenHandles();
}

TEST_F(RegistryApiTest, TheCallLogNamesTheKeyAndValueAddressed) {
  SetString("SOFTWARE\\Orvix\\qnetprep", "Install", "Success");
  sim::ResetCalls();
  HKEY vendor = Open("Software\\Orvix");
  HKEY product = nullptr;
  RegOpenKeyExA(vendor, "qnetprep\\", 0, KEY_ALL_ACCESS, &product);
  RegQueryValueExA(product, "Install", nullptr, nullptr, nullptr, nullptr);
  char name[16];
  DWORD size = sizeof name;
  RegEnumValueA(product, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(product);
  RegDeleteKeyA(vendor, "qnetprep");
  RegCloseKey(vendor);

  std::vector<std::string> log;
  for (const sim::CallRecord& record : sim::CallLog()) log.push_back(record.name + " " + record.detail);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "RegOpenKeyExA Software\\Orvix",
                     "RegOpenKeyExA Software\\Orvix\\qnetprep",
                     "RegQueryValueExA Software\\Orvix\\qnetprep:Install",
                     "RegEnumValueA Software\\Orvix\\qnetprep#0",
                     "RegCloseKey Software\\Orvix\\qnetprep",
                     "RegDeleteKeyA Software\\Orvix\\qnetprep",
                     "RegCloseKey Software\\Orvix",
                 }));
  ExpectNoOpenHandles();
}

}  // namespace
