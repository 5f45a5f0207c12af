// The simulated machine where no scenario holds it to Windows: buffer capacities at
// their edges, and the REGEDIT4 file that must give back exactly what a run left.
#include "platform/platform.h"
#include "platform/sim/registry_tree.h"
#include "tests/support/machine.h"

namespace {

using namespace std::string_literals;
using SimTest = MachineTest;

// "<status> <size> <buffer>" of a call told `capacity`, given one '#' more to show an overrun.
std::string Filled(DWORD capacity, const std::function<LSTATUS(char*, DWORD*)>& call) {
  std::string buffer(capacity + 1, '#');
  DWORD size = capacity;
  const LSTATUS status = call(buffer.data(), &size);
  return std::to_string(status) + " " + std::to_string(size) + " " + buffer;
}

TEST_F(SimTest, CallsFillBuffersWithinTheirCapacityAndReportTheSizeNeeded) {
  SetString("SOFTWARE\\T\\Alpha", "Zeta", "wxyz");
  SetBytes("SOFTWARE\\T", "Slot", REG_SZ, "oem3.inf"s.append(504, '\0'));
  SetBytes("SOFTWARE\\T", "Cut", REG_SZ, "abc");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const auto subkey = [key](char* b, DWORD* n) {
    return RegEnumKeyExA(key, 0, b, n, nullptr, nullptr, nullptr, nullptr);
  };
  const auto name = [key](char* b, DWORD* n) {
    return RegEnumValueA(key, 0, b, n, nullptr, nullptr, nullptr, nullptr);
  };
  const auto data = [key](const char* value) {
    return [key, value](char* b, DWORD* n) {
      return RegQueryValueExA(key, value, nullptr, nullptr, (BYTE*)b, n);
    };
  };
  EXPECT_EQ(Filled(5, subkey), "234 5 ######");
  EXPECT_EQ(Filled(6, subkey), "0 5 Alpha\0#"s);
  EXPECT_EQ(Filled(4, name), "234 4 #####");
  EXPECT_EQ(Filled(5, name), "0 4 Slot\0#"s);
  EXPECT_EQ(Filled(511, data("slot")), "234 512 " + std::string(512, '#'));
  EXPECT_EQ(Filled(512, data("Slot")), "0 512 oem3.inf"s.append(504, '\0') + "#");
  // Text stored without its NUL gets one where there is room.
  EXPECT_EQ(Filled(4, data("Cut")), "0 3 abc\0#"s);
  EXPECT_EQ(Filled(3, data("Cut")), "0 3 abc#");
  RegCloseKey(key);
  setenv("QnetprepTestFolder", "D:\\Orvix", 1);
  const auto env = [](char* b, DWORD* n) {
    return static_cast<LSTATUS>(*n = GetEnvironmentVariableA("QNETPREPTESTFOLDER", b, *n));
  };
  EXPECT_EQ(Filled(9, env), "8 8 D:\\Orvix\0#"s);
  EXPECT_EQ(Filled(8, env), "9 9 #########");
  const auto folder = [](char* b, DWORD* n) {
    return static_cast<LSTATUS>(*n = GetCurrentDirectoryA(*n, b));
  };
  EXPECT_EQ(Filled(6, folder), "7 7 #######");
  EXPECT_EQ(Filled(7, folder), "6 6 C:\\pkg\0#"s);
}

TEST(RegistryFile, AnyTreeSurvivesARoundTripExactlyAndIsTextWhereNothingIsLost) {
  auto original = std::make_shared<sim::RegKey>(), reread = std::make_shared<sim::RegKey>();
  sim::RegKey& product = *sim::CreateKeyPath(original, "SOFTWARE\\Orvix\\qnetprep");
  const std::pair<std::string, std::string> strings[] = {{"Install", "Success"s.append(505, '\0')},
                                                         {"NoTerminator", "qnetprep.exe /u"},
                                                         {"TwoNuls", "ab\0\0"s},
                                                         {"NoData", ""},
                                                         {"Path", "C:\\INF\\oem3.inf \"q\"\0"s},
                                                         {"", "default\0"s},
                                                         {"quote\"back\\slash", "y\0"s},
                                                         {"@", "not the default\0"s},
                                                         {"line\nbreak\r", "z\0"s}};
  for (const auto& [name, bytes] : strings)
    sim::SetValue(product, name, REG_SZ, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  sim::SetValue(product, "Count", REG_DWORD, reinterpret_cast<const uint8_t*>("\x0a\0\0\x80"), 4);
  sim::SetValue(product, "Short", REG_DWORD, reinterpret_cast<const uint8_t*>("\x01\x02"), 2);
  sim::SetValue(product, "Odd type", 0x12345, reinterpret_cast<const uint8_t*>("\xff"), 1);
  sim::CreateKeyPath(original, "SOFTWARE\\Odd = \"here\"\\ spaces \\bracket]inside");
  const std::string text = sim::FormatRegistryFile(*original, "HKEY_LOCAL_MACHINE");
  std::string error;
  ASSERT_TRUE(sim::ParseRegistryFile(text, *reread, "HKEY_LOCAL_MACHINE", &error)) << error << text;
  const auto copy = sim::FindKeyPath(reread, "SOFTWARE\\Orvix\\qnetprep");
  ASSERT_TRUE(copy != nullptr && copy->values.size() == product.values.size());
  for (size_t i = 0; i < product.values.size(); ++i)
    EXPECT_TRUE(copy->values[i].name == product.values[i].name &&
                copy->values[i].type == product.values[i].type &&
                copy->values[i].data == product.values[i].data)
        << product.values[i].name;
  EXPECT_TRUE(sim::FindKeyPath(reread, "SOFTWARE\\Odd = \"here\"\\ spaces \\bracket]inside") != nullptr);
  for (const char* line :
       {R"("Path"="C:\\INF\\oem3.inf \"q\"")", R"(@="default")", R"("@"="not the default")",
        R"("Count"=dword:8000000a)", R"("TwoNuls"=hex(1):61,62,00,00)", R"("Short"=hex(4):01,02)"})
    EXPECT_NE(text.find("\n"s + line + "\n"), std::string::npos) << line;
}

}  // namespace
