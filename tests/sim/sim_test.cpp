// Where no scenario holds the simulated machine to Windows: a query at the edge of its
// buffer, and the REGEDIT4 file, which must give back every byte that a run left.
#include "platform/platform.h"
#include "tests/support/machine.h"

using SimulatedMachine = MachineTest;

TEST_F(SimulatedMachine, QueriesStayWithinTheirBufferAndTheRegistryFileKeepsEveryByte) {
  const std::string key = "SOFTWARE\\Odd = \"here\"\\ spaces \\bracket]inside",
                    slot = "oem3.inf" + std::string(504, '\0');
  for (const auto& [name, bytes] : {std::pair("Slot"s, slot),
                                    {"Cut", "abc"},
                                    {"", "default\0"s},
                                    {"q\"b\\s", "ab\0\0"s},
                                    {"@", "at\0"s},
                                    {"line\nbreak\r", "z\0"s}})
    SetBytes(key, name, REG_SZ, bytes);
  SetBytes(key, "Count", REG_DWORD, "\x0a\0\0\x80"s), SetBytes(key, "Odd type", 0x12345, "\xff");
  HKEY handle = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle);
  // Status, size and buffer, which is one byte longer than the call is told.
  for (const auto& [value, capacity, filled] : {std::tuple("Slot", 511u, "234 512 " + std::string(512, '#')),
                                                {"Slot", 512u, "0 512 " + slot + "#"},
                                                {"Cut", 3u, "0 3 abc#"s}}) {
    std::string buffer(capacity + 1, '#');
    DWORD size = capacity;
    const LSTATUS status = RegQueryValueExA(handle, value, nullptr, nullptr, (BYTE*)buffer.data(), &size);
    EXPECT_EQ(std::to_string(status) + " " + std::to_string(size) + " " + buffer, filled) << value;
  }
  RegCloseKey(handle);
  auto reread = std::make_shared<sim::RegKey>();
  std::string error;
  const std::string file = sim::FormatRegistryFile(*sim::TheMachine().localMachine, "HKEY_LOCAL_MACHINE");
  ASSERT_TRUE(sim::ParseRegistryFile(file, *reread, "HKEY_LOCAL_MACHINE", &error)) << error << file;
  ASSERT_EQ(sim::FindKeyPath(reread, key)->values.size(), 8u);
  for (const sim::RegValue& value : sim::FindKeyPath(reread, key)->values)
    EXPECT_TRUE(value.type == Value(key, value.name)->type && value.data == Value(key, value.name)->data)
        << value.name;
}
