// The simulated registry: its calls held to what Windows does where a caller can see
// it (results, out-parameters, buffer capacities, handles and faults), and the
// REGEDIT4 file that keeps it between runs, which must give back exactly what a run
// left and read hand-written text as regedit reads it.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/sim_machine.h"

namespace {

using namespace std::string_literals;
using Registry = SimMachineTest;

const HKEY kSentinel = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x5EED));
constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";

HKEY Open(const char* path, REGSAM sam = KEY_ALL_ACCESS) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, sam, &key), ERROR_SUCCESS) << path;
  return key;
}

// Opens and closes again: a new handle, or the failure.
LSTATUS TryOpen(HKEY parent, const char* path) {
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

// A call that fills the caller's buffer, given a buffer of '#' one byte longer than
// the capacity it is told, so that a write past the capacity shows.
enum class Fill { kSubkeyName, kValueName, kValueData, kQuery };
struct Filled {
  LSTATUS status;
  DWORD size;
  std::string buffer;
};
Filled CallFilling(HKEY key, Fill call, DWORD index, const char* value, DWORD capacity) {
  Filled out{ERROR_SUCCESS, capacity, std::string(capacity + 1, '#')};
  char* text = out.buffer.data();
  auto* bytes = reinterpret_cast<BYTE*>(text);
  char name[64];
  DWORD nameSize = sizeof name;
  if (call == Fill::kSubkeyName) {
    out.status = RegEnumKeyExA(key, index, text, &out.size, nullptr, nullptr, nullptr, nullptr);
  } else if (call == Fill::kValueName) {
    out.status = RegEnumValueA(key, index, text, &out.size, nullptr, nullptr, nullptr, nullptr);
  } else if (call == Fill::kValueData) {
    out.status = RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, bytes, &out.size);
  } else {
    out.status = RegQueryValueExA(key, value, nullptr, nullptr, bytes, &out.size);
  }
  return out;
}

TEST_F(Registry, OpensAndCreatesByAnyCaseChecksRightsAndCountsEveryHandleUntilClosed) {
  SetString("SOFTWARE\\Orvix\\qnetprep", "Name", "value");
  HKEY vendor = Open("software\\ORVIX\\");
  HKEY product = nullptr;
  ASSERT_EQ(RegOpenKeyExA(vendor, "QNETPREP", 0, KEY_READ, &product), ERROR_SUCCESS);
  EXPECT_EQ(TryOpen(product, ""), ERROR_SUCCESS);
  EXPECT_EQ(TryOpen(HKEY_LOCAL_MACHINE, "Software\\Orvix\\Nope\\qnetprep"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(TryOpen(HKEY_LOCAL_MACHINE, "\\Software\\Orvix"), 161 /* ERROR_BAD_PATHNAME */);
  const BYTE data[] = "x";
  EXPECT_EQ(RegSetValueExA(product, "New", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExA(product, "Name", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  for (HKEY key : {vendor, product}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(product), ERROR_INVALID_HANDLE) << "closed twice";

  // Creating makes every missing level and keeps the first spelling of each.
  const auto create = [](const std::string& path) {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  };
  EXPECT_EQ(create("SOFTWARE\\Orvix\\qnetprep\\Parameters"), ERROR_SUCCESS);
  EXPECT_EQ(create("Software\\ORVIX"), ERROR_SUCCESS);
  // 256 characters is the longest key name that Windows and Wine accept.
  EXPECT_EQ(create("SOFTWARE\\Orvix\\" + std::string(256, 'k')), ERROR_SUCCESS);
  EXPECT_EQ(create("SOFTWARE\\Orvix\\ok\\" + std::string(257, 'k')), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  EXPECT_EQ(sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE\\ORVIX")->name, "Orvix");
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\ok")) << "a refused path creates no level";
  ExpectNoOpenHandles();
}

TEST_F(Registry, StoresValueBytesAsWindowsNtDoesAndFillsBuffersWithinTheirCapacity) {
  for (const char* name : {"beta", "_under", "Alpha"}) CreateKey("SOFTWARE\\T\\"s + name);
  HKEY key = Open("SOFTWARE\\T");
  const auto set = [key](const char* name, DWORD type, const char* data, DWORD size) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data), size);
  };
  // A string counted without its NUL gets the NUL stored too when the byte after the
  // given ones is one; otherwise, and for other types, exactly the given bytes.
  EXPECT_EQ(set("Zeta", REG_BINARY, "wxyz", 4), ERROR_SUCCESS);
  EXPECT_EQ(set("ZETA", REG_DWORD, "1234", 4), ERROR_SUCCESS);  // replaces in place, keeps the name
  EXPECT_EQ(set("Cut", REG_EXPAND_SZ, "abcX", 3), ERROR_SUCCESS);
  EXPECT_EQ(set("Uninstall", REG_SZ, "qnetprep.exe /u", 15), ERROR_SUCCESS);
  std::string slot = "C:\\Windows\\INF\\oem3.inf";
  slot.resize(512, '\0');
  SetValueBytes("SOFTWARE\\T", "RenamedInf", REG_SZ, std::vector<uint8_t>(slot.begin(), slot.end()));
  for (const auto& [name, stored] : {std::pair<const char*, std::string>{"Zeta", "4:1234"},
                                     {"Cut", "2:abc"},
                                     {"Uninstall", "1:qnetprep.exe /u\0"s}}) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(GetValue("SOFTWARE\\T", name, &type, &data)) << name;
    EXPECT_EQ(std::to_string(type) + ":" + std::string(data.begin(), data.end()), stored);
  }
  const struct {
    Fill call;
    DWORD index;
    const char* value;
    DWORD capacity;
    LSTATUS status;
    DWORD size;
    std::string buffer;
  } rows[] = {
      // Subkeys sorted upper-cased ('_' after the letters), values as first set; names count the NUL.
      {Fill::kSubkeyName, 0, "", 5, ERROR_MORE_DATA, 5, "######"},
      {Fill::kSubkeyName, 0, "", 6, ERROR_SUCCESS, 5, "Alpha\0#"s},
      {Fill::kSubkeyName, 2, "", 7, ERROR_SUCCESS, 6, "_under\0#"s},
      {Fill::kSubkeyName, 3, "", 7, ERROR_NO_MORE_ITEMS, 7, "########"},
      {Fill::kValueName, 0, "", 4, ERROR_MORE_DATA, 4, "#####"},
      {Fill::kValueName, 0, "", 5, ERROR_SUCCESS, 4, "Zeta\0#"s},
      {Fill::kValueName, 4, "", 11, ERROR_NO_MORE_ITEMS, 11, "############"},
      {Fill::kValueData, 0, "", 3, ERROR_MORE_DATA, 4, "####"},
      {Fill::kValueData, 0, "", 4, ERROR_SUCCESS, 4, "1234#"},
      // A query reports the stored size; a buffer too small is left as it was.
      {Fill::kQuery, 0, "RenamedInf", 511, ERROR_MORE_DATA, 512, std::string(512, '#')},
      {Fill::kQuery, 0, "renamedINF", 512, ERROR_SUCCESS, 512, slot + "#"},
      // String data stored without a NUL gets one when there is room for it.
      {Fill::kQuery, 0, "Cut", 4, ERROR_SUCCESS, 3, "abc\0#"s},
      {Fill::kQuery, 0, "Cut", 3, ERROR_SUCCESS, 3, "abc#"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    const Filled filled = CallFilling(key, row.call, row.index, row.value, row.capacity);
    EXPECT_EQ(filled.status, row.status);
    EXPECT_EQ(filled.size, row.size);
    EXPECT_EQ(filled.buffer, row.buffer);
  }
  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "RenamedInf1", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  ExpectNoOpenHandles();
}

TEST_F(Registry, DeleteKeyTakesOnlyKeysWithoutSubkeysAndTheTreeDeletionTakesAll) {
  CreateKey("SOFTWARE\\Orvix\\qnetprep\\Parameters");
  CreateKey("SOFTWARE\\Orvix\\qnetprep\\Other");
  HKEY vendor = Open("SOFTWARE\\Orvix");
  EXPECT_EQ(RegDeleteKeyA(vendor, "qnetprep"), ERROR_ACCESS_DENIED) << "it has subkeys";
  EXPECT_TRUE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  EXPECT_EQ(RegDeleteKeyA(vendor, "QNETPREP\\parameters"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep\\Parameters"));
  EXPECT_EQ(RegDeleteKeyA(vendor, "qnetprep\\Parameters"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SHDeleteKeyA(vendor, "qnetprep"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\qnetprep"));
  EXPECT_EQ(SHDeleteKeyA(vendor, "qnetprep"), ERROR_FILE_NOT_FOUND);
  // A handle to a deleted key fails until closed, also once a key of that name is back.
  CreateKey("SOFTWARE\\Orvix\\qnetprep");
  HKEY product = Open("SOFTWARE\\Orvix\\qnetprep");
  ASSERT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvix"), ERROR_SUCCESS);
  CreateKey("SOFTWARE\\Orvix\\qnetprep");
  EXPECT_EQ(RegQueryValueExA(product, "Value", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(TryOpen(product, ""), ERROR_KEY_DELETED);
  for (HKEY key : {vendor, product}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ExpectNoOpenHandles();
}

TEST_F(Registry, AFaultedCallChangesNothingAndTouchesNoOutput) {
  SetString("SOFTWARE\\Orvix\\qnetprep", "Install", "Success");
  HKEY vendor = Open("SOFTWARE\\Orvix");
  for (const char* call : {"RegOpenKeyExA", "RegSetValueExA", "RegCloseKey"})
    sim::FailCall(call, sim::Fault{});
  sim::FailCall("RegCreateKeyExA", sim::Fault{1234});
  HKEY result = kSentinel;
  const BYTE data[] = "Fail";
  EXPECT_EQ(RegOpenKeyExA(vendor, "qnetprep", 0, KEY_ALL_ACCESS, &result), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(vendor, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result, nullptr), 1234);
  EXPECT_EQ(RegSetValueExA(vendor, "X", 0, REG_SZ, data, 5), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(vendor), ERROR_ACCESS_DENIED);
  EXPECT_EQ(result, kSentinel);
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Success");
  EXPECT_FALSE(KeyExists("SOFTWARE\\Orvix\\New"));
  EXPECT_FALSE(GetValue("SOFTWARE\\Orvix", "X", nullptr, nullptr));
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 1) << "a faulted close leaves the handle open";
  sim::ClearFaults();
  EXPECT_EQ(RegCloseKey(vendor), ERROR_SUCCESS);
}

// Every key, value name, type and byte in order, so that a difference names the place.
void Flatten(const sim::RegKey& key, const std::string& path, std::vector<std::string>* out) {
  out->push_back("[" + path + "]");
  for (const sim::RegValue& value : key.values) {
    out->push_back(path + ":" + value.name + " type " + std::to_string(value.type) + ":");
    for (const uint8_t byte : value.data) out->back() += " " + std::to_string(byte);
  }
  for (const auto& subkey : key.subkeys) Flatten(*subkey, path + "\\" + subkey->name, out);
}

std::vector<std::string> Flat(const sim::RegKey& root) {
  std::vector<std::string> flat;
  Flatten(root, kRoot, &flat);
  return flat;
}

std::shared_ptr<sim::RegKey> NewRoot() {
  auto root = std::make_shared<sim::RegKey>();
  root->name = kRoot;
  return root;
}

void Put(sim::RegKey& key, const std::string& name, uint32_t type, const std::string& data) {
  sim::SetValue(key, name, type, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

TEST(RegistryFile, AnyTreeSurvivesARoundTripExactlyAndIsTextOnlyWhereNothingIsLost) {
  const std::shared_ptr<sim::RegKey> original = NewRoot();
  sim::RegKey& product = *sim::CreateKeyPath(original, "SOFTWARE\\Orvix\\qnetprep");
  std::string slot = "Success";
  slot.resize(512, '\0');
  const std::pair<const char*, std::string> strings[] = {
      {"Install", slot},        {"NoTerminator", "qnetprep.exe /u"},

      {"TwoNuls", "ab\0\0"s},   {"EmptyText", "\0"s},
      {"NoData", ""},           {"Path", "C:\\Windows\\INF\\oem3.inf \"quoted\"\0"s},
      {"", "default\0"s},       {"quote\"name", "x\0"s},
      {"back\\slash", "y\0"s},  {"@", "not the default\0"s},
      {"line\nbreak\r", "z\0"s}};
  for (const auto& [name, data] : strings) Put(product, name, REG_SZ, data);
  Put(product, "Count", REG_DWORD, "\x0a\0\0\x80"s);
  Put(product, "ShortDword", REG_DWORD, "\x01\x02\x03");
  Put(product, "Multi", REG_MULTI_SZ, "one\0two\0\0"s);
  Put(product, "Odd type", 0x12345, "\xff");
  Put(product, "EmptyBinary", REG_BINARY, "");
  sim::CreateKeyPath(original, "SOFTWARE\\Odd Names = \"here\"\\ a key with spaces ");
  sim::CreateKeyPath(original, "SOFTWARE\\bracket]inside\\EmptyChild");

  const std::string text = sim::FormatRegistryFile(*original, kRoot);
  const std::shared_ptr<sim::RegKey> reread = NewRoot();
  std::string error;
  ASSERT_TRUE(sim::ParseRegistryFile(text, *reread, kRoot, &error)) << error << "\n" << text;
  EXPECT_EQ(Flat(*reread), Flat(*original));
  for (const char* line :
       {R"("Path"="C:\\Windows\\INF\\oem3.inf \"quoted\"")", R"(@="default")", R"("@"="not the default")",
        R"("Count"=dword:8000000a)", R"("TwoNuls"=hex(1):61,62,00,00)", R"("ShortDword"=hex(4):01,02,03)",
        R"("EmptyBinary"=hex:)"}) {
    EXPECT_NE(text.find("\n"s + line + "\n"), std::string::npos) << line;
  }
}

TEST(RegistryFile, ReadsHandWrittenTextAsRegeditDoes) {
  const std::shared_ptr<sim::RegKey> root = NewRoot();
  std::string error;
  ASSERT_TRUE(
      sim::ParseRegistryFile("\xEF\xBB\xBFREGEDIT4\r\n\r\n"
                             "; a comment, then keys in any case\r\n"
                             "[hkey_local_machine\\SOFTWARE\\Orvix\\qnetprep]\r\n"
                             "\"Install\"=\"Success\"\r\n"
                             "   ; an indented comment\r\n"
                             "\"Count\"=DWORD:A\r\n"
                             "\"Multi\"=HEX(7):6f,6e,65,00,\\\r\n"
                             "    74 , 77,6f,\\\r\n"
                             "\t00,00\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Elsewhere]\r\n"
                             "\"Ignored\"=\"another hive\"\r\n"
                             "[HKEY_LOCAL_MACHINESOFTWARE]\r\n"
                             "\"NotOurs\"=\"a longer root name is another hive\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\software\\ORVIX]\n"
                             "@=\"vendor\"\n",
                             *root, kRoot, &error))
      << error;
  const std::shared_ptr<sim::RegKey> wanted = NewRoot();
  sim::RegKey& product = *sim::CreateKeyPath(wanted, "SOFTWARE\\Orvix\\qnetprep");
  Put(product, "Install", REG_SZ, "Success\0"s);
  Put(product, "Count", REG_DWORD, "\x0a\0\0\0"s);
  Put(product, "Multi", REG_MULTI_SZ, "one\0two\0\0"s);
  Put(*sim::FindKeyPath(wanted, "SOFTWARE\\Orvix"), "", REG_SZ, "vendor\0"s);
  EXPECT_EQ(Flat(*root), Flat(*wanted)) << "the first spelling of a key names it";
}

TEST(RegistryFile, RejectsMalformedTextNamingTheLine) {
  const std::string key = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n";
  const std::pair<std::string, const char*> cases[] = {
      {"", "line 1"},
      {"REGEDIT4\n\"Early\"=\"value before any key\"\n", "line 2"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", "line 2"},
      {key + "\"unterminated=\"x\"\n", "line 3"},
      {key + "\"a\"=\"bad \\q escape\"\n", "line 3"},
      {key + "\"a\"=dword:123456789\n", "line 3"},
      {key + "\n\"a\"=hex:01,\\\n", "line 4"},
  };
  for (const auto& [text, line] : cases) {
    sim::RegKey root;
    std::string error;
    EXPECT_FALSE(sim::ParseRegistryFile(text, root, kRoot, &error)) << text;
    EXPECT_NE(error.find(line), std::string::npos) << text << " -> " << error;
  }
}

}  // namespace
