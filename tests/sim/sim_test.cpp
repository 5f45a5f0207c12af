// The simulated machine where no scenario holds it to Windows: buffers at their capacity,
// and the REGEDIT4 file that must give back exactly what a run left.
#include "platform/platform.h"
#include "tests/support/machine.h"

namespace {

using SimulatedMachine = MachineTest;

TEST_F(SimulatedMachine, CallsFillBuffersWithinTheirCapacityAndTheRegistryFileKeepsEveryByte) {
  auto root = sim::TheMachine().localMachine, reread = std::make_shared<sim::RegKey>();
  sim::RegKey& key = *sim::CreateKeyPath(root, "SOFTWARE\\Odd = \"here\"\\ spaces \\bracket]inside");
  const std::pair<std::string, std::string> values[] = {{"Slot", "oem3.inf"s + std::string(504, '\0')},
                                                        {"Cut", "abc"},
                                                        {"TwoNuls", "ab\0\0"s},
                                                        {"", "default\0"s},
                                                        {"quote\"back\\slash", "y\0"s},
                                                        {"@", "at\0"s},
                                                        {"line\nbreak\r", "z\0"s},
                                                        {"NoData", ""}};
  for (const auto& [name, bytes] : values)
    sim::SetValue(key, name, REG_SZ, (const uint8_t*)bytes.data(), bytes.size());
  sim::SetValue(key, "Count", REG_DWORD, (const uint8_t*)"\x0a\0\0\x80", 4);
  sim::SetValue(key, "Odd type", 0x12345, (const uint8_t*)"\xff", 1);
  // "<status> <size> <buffer>", the buffer given one '#' more than the call is told.
  const auto query = [](const char* value, DWORD capacity) {
    HKEY handle = nullptr;
    std::string buffer(capacity + 1, '#');
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\ODD = \"here\"\\ spaces \\bracket]inside", 0, KEY_ALL_ACCESS,
                  &handle);
    const LSTATUS status = RegQueryValueExA(handle, value, nullptr, nullptr, (BYTE*)buffer.data(), &capacity);
    RegCloseKey(handle);
    return std::to_string(status) + " " + std::to_string(capacity) + " " + buffer;
  };
  EXPECT_EQ(query("slot", 511), "234 512 " + std::string(512, '#'));
  EXPECT_EQ(query("Slot", 512), "0 512 oem3.inf" + std::string(504, '\0') + "#");
  // Text stored without its NUL gets one where there is room.
  EXPECT_EQ(query("Cut", 4), "0 3 abc\0#"s);
  EXPECT_EQ(query("Cut", 3), "0 3 abc#");
  setenv("QnetprepTestFolder", "D:\\Orvix", 1);
  char text[10] = "#########";
  EXPECT_EQ(GetEnvironmentVariableA("QNETPREPTESTFOLDER", text, 8), 9u);
  EXPECT_EQ(std::to_string(GetEnvironmentVariableA("QNETPREPTESTFOLDER", text, 9)) + " " + text,
            "8 D:\\Orvix");
  const std::string file = sim::FormatRegistryFile(*root, "HKEY_LOCAL_MACHINE");
  std::string error;
  ASSERT_TRUE(sim::ParseRegistryFile(file, *reread, "HKEY_LOCAL_MACHINE", &error)) << error << file;
  const auto copy = sim::FindKeyPath(reread, "SOFTWARE\\Odd = \"here\"\\ spaces \\bracket]inside");
  ASSERT_TRUE(copy != nullptr && copy->values.size() == key.values.size());
  for (size_t i = 0; i < key.values.size(); ++i)
    EXPECT_TRUE(copy->values[i].name == key.values[i].name && copy->values[i].type == key.values[i].type &&
                copy->values[i].data == key.values[i].data)
        << key.values[i].name;
  for (const char* line :
       {R"(@="default")", R"("@"="at")", R"("Count"=dword:8000000a)", R"("TwoNuls"=hex(1):61,62,00,00)"})
    EXPECT_NE(file.find("\n"s + line + "\n"), std::string::npos) << line;
}

}  // namespace
