#pragma once
// The settings files as the campaign runner checks them after every save and every restart:
// setup.txt holds one "Key: value" line per key, every key it held at the start and no
// other, each value one the menu set (the model below); a bank's antenna table
// (antenna.txt, antenna_bN.txt) holds its interface line ("!Ixo") and rows of eight fields;
// any other file under the settings folder is whole (ends with its line end, no NUL byte).
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace endurance {

// "Key: value" lines into the map; "" when every line is of that form, else what is wrong.
std::string parseSetup(std::string_view text, std::map<std::string, std::string>& out);
// "" when the text is an antenna table of the form above, else what is wrong.
std::string checkBankTable(std::string_view text);
// "" when the text is a whole text file (empty, or ends with '\n' and holds no NUL byte).
std::string checkWholeText(std::string_view text);

// The values each key of setup.txt may hold: the value it had at the start, and every value
// the runner made the menu set (or that the controller itself writes for that key: the
// switches of readers that end and are restarted).
class SetupModel {
public:
    // The file at the start; "" when it parses.
    std::string start(std::string_view text);
    void allow(const std::string& key, const std::string& value) { allowed_[key].insert(value); }
    // "" when the text parses, has exactly the keys of the start and allowed values only.
    std::string check(std::string_view text) const;
    // The value of a key in the text, "" when absent or the text does not parse.
    static std::string valueOf(std::string_view text, const std::string& key);
    bool started() const { return !allowed_.empty(); }

private:
    std::map<std::string, std::set<std::string>> allowed_;
};

} // namespace endurance
