// The project's own INI reader/writer, in place of the Windows profile functions: sections and
// keys match without regard to case, values are trimmed (and a pair of surrounding quotes
// dropped), lines starting with ';' or '#' are comments. ReadInteger reads a decimal integer, or
// a hexadecimal one after 0x/0X; anything else, or no value, gives the default. A write changes
// only the one line of its key (or adds it at the end of its section, or adds the section at the
// end of the file) and keeps every other line as it was; it goes to disk at once.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zephyrine::app {

class TIniFile {
  public:
    // Reads the file when it is there; a missing or unreadable file reads as empty. Nothing is
    // created until a write.
    explicit TIniFile(std::string path);

    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;

    // Throw std::runtime_error when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);

    // The integer rule on its own: nullopt when text is not a number.
    static std::optional<int> ParseInteger(const std::string& text);

  private:
    std::optional<std::size_t> FindKey(const std::string& section, const std::string& key) const;
    void Save() const;

    std::string path_;
    std::vector<std::string> lines_;  // without line ends
    std::string eol_ = "\n";          // the file's own line end ("\r\n" when it uses it)
    bool finalEol_ = true;            // whether the last line was ended
};

}  // namespace zephyrine::app
