#include "records/record_keys.h"

void CloseKeysInOrder(std::initializer_list<HKEY*> keys) {
  for (HKEY* key : keys) {
    if (*key != nullptr) RegCloseKey(*key);
    *key = nullptr;
  }
}
