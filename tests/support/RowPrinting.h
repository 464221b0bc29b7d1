#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

// The rows of the test tables, readable: a failing row prints as its name and the inputs
// that set it apart, and its test is named after it. A table's PrintTo, beside its row type
// so that GoogleTest finds it, picks the inputs:
//     rows::Print(out, row.name)("before", row.before)("huge", row.huge);
// prints   hugeFileReadInPieces {before: "", huge: true}
namespace rows
{

// Bytes as a quoted string: control characters, quotes and backslashes escaped, bytes beyond
// ASCII as they are where the whole is UTF-8, escaped otherwise; a null pointer as NULL.
std::string shown(const char *bytes);
std::string shown(const QByteArray &bytes);
std::string shown(const QString &text);
std::string shown(const std::string &bytes);
inline std::string shown(bool value)
{
    return value ? "true" : "false";
}
template <class Number>
requires std::is_arithmetic_v<Number> std::string shown(Number value)
{
    return std::to_string(value);
}
template <class Item> std::string shown(const QList<Item> &items);
template <class Item> std::string shown(const std::vector<Item> &items);

template <class Items> std::string shownList(const Items &items)
{
    std::string list = "[";
    for (const auto &item : items)
        list += (list.size() > 1 ? ", " : "") + shown(item);
    return list + "]";
}
template <class Item> std::string shown(const QList<Item> &items)
{
    return shownList(items);
}
template <class Item> std::string shown(const std::vector<Item> &items)
{
    return shownList(items);
}

// Writes the row's name, then each input given to it as "key: value", in braces.
class Print
{
  public:
    Print(std::ostream *out, const char *name) : m_out(out) { *m_out << name; }
    ~Print()
    {
        if (m_inputs > 0)
            *m_out << '}';
    }
    Print(const Print &) = delete;
    Print &operator=(const Print &) = delete;

    template <class Value> Print &operator()(const char *key, const Value &value)
    {
        *m_out << (m_inputs++ > 0 ? ", " : " {") << key << ": " << shown(value);
        return *this;
    }

  private:
    std::ostream *m_out;
    int m_inputs = 0;
};

// A test name made of a row's name: letters and digits kept, apostrophes dropped, any other
// run of characters one "_".
std::string testName(const QString &name);

// The fourth argument of INSTANTIATE_TEST_SUITE_P for a table whose rows have a `name`.
inline constexpr auto byName = [](const auto &info) {
    return testName(QString::fromUtf8(info.param.name));
};

} // namespace rows
