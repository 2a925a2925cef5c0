#include "host/dictionary.h"

Dictionary* Dictionary_Create() { return new Dictionary(); }

void Dict_SetString(Dictionary* dict, const char* value, const char* key) {
  dict->values[key] = value;
}

void Dict_SetBool(Dictionary* dict, bool value, const char* key) {
  dict->values[key] = value ? "true" : "false";
}

void Dictionary_Clear(Dictionary* dict) { dict->values.clear(); }

void Dictionary_Free(Dictionary* dict) { delete dict; }

std::string Dict_GetString(const Dictionary* dict, const char* key, const std::string& fallback) {
  if (dict == nullptr) return fallback;
  auto it = dict->values.find(key);
  return it == dict->values.end() ? fallback : it->second;
}

bool Dict_GetBool(const Dictionary* dict, const char* key, bool fallback) {
  std::string v = Dict_GetString(dict, key, fallback ? "true" : "false");
  return v == "true" || v == "1";
}

const char* ProductState_GetName() { return "bootcrank"; }
const char* ProductState_GetVersion() { return BOOTCRANK_VERSION; }
const char* ProductState_GetBuildNumberString() { return "0"; }
#ifdef NDEBUG
const char* ProductState_GetCompilationOption() { return "release"; }
#else
const char* ProductState_GetCompilationOption() { return "debug"; }
#endif
