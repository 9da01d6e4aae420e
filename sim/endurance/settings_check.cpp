#include "settings_check.h"

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace endurance {

namespace {

std::vector<std::string_view> linesOf(std::string_view text)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

bool isNumber(const std::string& s)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

} // namespace

std::string checkWholeText(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return "holds a NUL byte";
    if (!text.empty() && text.back() != '\n')
        return "ends without a line end (cut short?)";
    return "";
}

std::string parseSetup(std::string_view text, std::map<std::string, std::string>& out)
{
    if (const std::string whole = checkWholeText(text); !whole.empty())
        return whole;
    if (text.empty())
        return "is empty";
    int number = 0;
    for (const std::string_view l : linesOf(text)) {
        ++number;
        const size_t colon = l.find(": ");
        bool keyOk = colon != std::string_view::npos && colon > 0;
        for (size_t i = 0; keyOk && i < colon; ++i)
            keyOk = std::isalnum(static_cast<unsigned char>(l[i])) || l[i] == '_';
        if (!keyOk)
            return "line " + std::to_string(number) + " is not \"Key: value\": \"" + std::string(l) + "\"";
        const std::string key(l.substr(0, colon));
        if (out.count(key))
            return "key " + key + " twice";
        out[key] = std::string(l.substr(colon + 2));
    }
    return "";
}

std::string checkBankTable(std::string_view text)
{
    if (const std::string whole = checkWholeText(text); !whole.empty())
        return whole;
    const auto lines = linesOf(text);
    if (lines.empty() || lines[0].size() < 2 || lines[0][0] != '!')
        return "has no interface line (\"!Xxx\") first";
    for (size_t i = 1; i < lines.size(); ++i) {
        std::istringstream in{std::string(lines[i])};
        std::vector<std::string> fields;
        for (std::string f; in >> f;)
            fields.push_back(f);
        if (fields.size() != 8)
            return "row " + std::to_string(i) + " has " + std::to_string(fields.size()) + " fields, not 8";
        for (size_t f = 1; f < fields.size(); ++f)
            if (!isNumber(fields[f]))
                return "row " + std::to_string(i) + " field " + std::to_string(f + 1) + " is not a number: " + fields[f];
    }
    return "";
}

std::string SetupModel::start(std::string_view text)
{
    std::map<std::string, std::string> values;
    if (std::string error = parseSetup(text, values); !error.empty())
        return error;
    allowed_.clear();
    for (const auto& [key, value] : values)
        allowed_[key].insert(value);
    return "";
}

std::string SetupModel::check(std::string_view text) const
{
    std::map<std::string, std::string> values;
    if (std::string error = parseSetup(text, values); !error.empty())
        return error;
    for (const auto& [key, value] : values) {
        const auto a = allowed_.find(key);
        if (a == allowed_.end())
            return "key " + key + " was not in the file at the start";
        if (!a->second.count(value))
            return key + " holds " + value + ", a value the menu never set";
    }
    for (const auto& [key, unused] : allowed_)
        if (!values.count(key))
            return "key " + key + " is missing";
    return "";
}

std::string SetupModel::valueOf(std::string_view text, const std::string& key)
{
    std::map<std::string, std::string> values;
    if (!parseSetup(text, values).empty())
        return "";
    const auto v = values.find(key);
    return v == values.end() ? "" : v->second;
}

} // namespace endurance
