#include "cli/autocli_option_parser.h"

#include <cstring>

namespace Toolbelt {
namespace AutoCli {

namespace {

bool IsBlank(char c) { return c != '\0' && std::strchr(" \t\n\r\v\f", c) != nullptr; }

}  // namespace

bool OptionParser::Split(const std::string& line, std::vector<Word>* words) {
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i == n) return true;
    Word word;
    word.option = line[i] == '-';
    while (i < n && !IsBlank(line[i])) {
      char c = line[i];
      if (c == '\'') {
        size_t close = line.find('\'', i + 1);
        if (close == std::string::npos) {
          errors_.push_back("Unterminated single quote in: " + line);
          return false;
        }
        word.text.append(line, i + 1, close - i - 1);
        i = close + 1;
      } else if (c == '"') {
        ++i;
        while (i < n && line[i] != '"') {
          if (line[i] == '\\' && i + 1 < n) ++i;
          word.text += line[i++];
        }
        if (i == n) {
          errors_.push_back("Unterminated double quote in: " + line);
          return false;
        }
        ++i;
      } else if (c == '\\') {
        if (i + 1 == n) {
          errors_.push_back("Backslash at the end of: " + line);
          return false;
        }
        word.text += line[i + 1];
        i += 2;
      } else {
        word.text += c;
        ++i;
      }
    }
    words->push_back(std::move(word));
  }
}

bool OptionParser::ParseString(const std::string& line) {
  errors_.clear();
  parameters_.clear();
  path_.clear();
  help_ = false;

  std::vector<Word> words;
  if (!Split(line, &words)) return false;

  size_t i = 0;
  for (; i < words.size() && !words[i].option; ++i) path_.push_back(words[i].text);
  for (; i < words.size(); ++i) {
    const Word& word = words[i];
    if (!word.option) {
      errors_.push_back("Unexpected argument '" + word.text + "' after the options");
      continue;
    }
    if (word.text.compare(0, 2, "--") != 0) {
      errors_.push_back("Invalid option '" + word.text + "': options begin with \"--\"");
      continue;
    }
    size_t equals = word.text.find('=');
    std::string name =
        word.text.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (name.empty()) {
      errors_.push_back("Option without a name: '" + word.text + "'");
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = word.text.substr(equals + 1);
    } else if (i + 1 < words.size() && !words[i + 1].option) {
      value = words[++i].text;
    } else {
      value = "true";
    }
    if (name == "help") help_ = true;
    parameters_.emplace_back(std::move(name), std::move(value));
  }
  if (path_.empty() && !help_ && !words.empty()) {
    errors_.push_back("Missing command before the options: " + line);
  }
  return errors_.empty() && (words.empty() || help_);
}

}  // namespace AutoCli
}  // namespace Toolbelt
