// The host dictionary library: a string-keyed configuration dictionary, used
// to hand settings to the logging library.
//
// Not thread-safe; a dictionary belongs to the code that created it.
#ifndef BOOTCRANK_HOST_DICTIONARY_H_
#define BOOTCRANK_HOST_DICTIONARY_H_

#include <map>
#include <string>

struct Dictionary {
  std::map<std::string, std::string> values;
};

Dictionary* Dictionary_Create();
// Note the argument order of the host library: value first, then key.
void Dict_SetString(Dictionary* dict, const char* value, const char* key);
void Dict_SetBool(Dictionary* dict, bool value, const char* key);
void Dictionary_Clear(Dictionary* dict);
void Dictionary_Free(Dictionary* dict);

// Lookups for the library's own use; `fallback` when the key is missing.
std::string Dict_GetString(const Dictionary* dict, const char* key, const std::string& fallback);
bool Dict_GetBool(const Dictionary* dict, const char* key, bool fallback);

// The product-state library: what this build of the program is.
const char* ProductState_GetName();
const char* ProductState_GetVersion();
const char* ProductState_GetBuildNumberString();
const char* ProductState_GetCompilationOption();

#endif  // BOOTCRANK_HOST_DICTIONARY_H_
