#include "output.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace namespace_browser
{
namespace
{
std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring hex(ULONG value)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// Characters as a console shows them, close enough for aligning columns: one per UTF-16 code unit
// that does not continue a surrogate pair.
size_t width(const std::wstring& text)
{
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](wchar_t c) { return c < 0xDC00 || c > 0xDFFF; }));
}

std::wstring padded(const std::wstring& text, size_t to) { return text + std::wstring(to > width(text) ? to - width(text) : 0, L' '); }

// A value as the table shows it. E_INVALIDARG is a folder's answer for a column its item has no value in,
// which Explorer leaves blank; any other failure shows its name (or its code) in parentheses.
std::wstring column_text(const column_value& value)
{
    if (value.text)
        return *value.text;
    if (value.result == E_INVALIDARG)
        return {};
    const std::wstring text = hresult_text(value.result);
    const size_t name = text.find(L' ');
    return L"(" + (name == std::wstring::npos ? text : text.substr(name + 1)) + L")";
}

std::wstring where_listed(const item& item)
{
    std::wstring text;
    if (item.in_navigation_pane)
        text += L"pane";
    if (item.in_view)
        text += text.empty() ? L"view" : L" view";
    return text;
}

void text_item(const item& node, size_t depth, const std::vector<size_t>& widths, std::wstring& out)
{
    const std::wstring indent(depth * 2, L' ');
    std::wstring line = indent;
    if (widths.empty())
    {
        line += node.name;
        // A start path that its parent does not list (an unregistered root, a hidden file) says so.
        const std::wstring listed = where_listed(node);
        line += L"  (" + (listed.empty() ? std::wstring(L"not listed by its parent") : listed) + L")";
        line += L"  " + (FAILED(node.attributes_result) ? L"attributes " + hresult_text(node.attributes_result)
                                                        : attribute_names(node.attributes));
    }
    else
    {
        for (size_t i = 0; i < node.columns.size(); ++i)
            line += (i ? L" | " : L"") + padded(column_text(node.columns[i]), widths[i]);
        while (!line.empty() && line.back() == L' ')
            line.pop_back();
    }
    out += line + L"\n";
    for (const auto& error : node.errors)
        out += indent + L"! " + error + L"\n";
    if (!node.walked)
        return;

    std::vector<size_t> child_widths;
    if (!node.children.empty() && !node.children.front().columns.empty())
    {
        // A header naming the columns, aligned with the rows below it.
        const auto& first = node.children.front().columns;
        child_widths.resize(first.size());
        for (size_t i = 0; i < first.size(); ++i)
        {
            child_widths[i] = width(first[i].name);
            for (const auto& child : node.children)
                if (i < child.columns.size())
                    child_widths[i] = std::max(child_widths[i], width(column_text(child.columns[i])));
        }
        std::wstring header = indent + L"  ";
        for (size_t i = 0; i < first.size(); ++i)
            header += (i ? L" | " : L"") + padded(first[i].name, child_widths[i]);
        while (!header.empty() && header.back() == L' ')
            header.pop_back();
        out += header + L"\n";
    }
    for (const auto& child : node.children)
        text_item(child, depth + 1, child_widths, out);
}

using json_writer = rapidjson::PrettyWriter<rapidjson::StringBuffer, rapidjson::UTF16<wchar_t>, rapidjson::UTF8<>>;

void write_string(json_writer& writer, const std::wstring& text)
{
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void json_item(json_writer& writer, const item& node)
{
    writer.StartObject();
    writer.Key(L"name");
    write_string(writer, node.name);
    writer.Key(L"parsing_name");
    write_string(writer, node.parsing_name);
    writer.Key(L"attributes");
    write_string(writer, hex(node.attributes));
    writer.Key(L"attribute_names");
    write_string(writer, attribute_names(node.attributes));
    if (FAILED(node.attributes_result))
    {
        writer.Key(L"attributes_error");
        write_string(writer, hresult_text(node.attributes_result));
    }
    writer.Key(L"in_navigation_pane");
    writer.Bool(node.in_navigation_pane);
    writer.Key(L"in_view");
    writer.Bool(node.in_view);
    if (!node.columns.empty())
    {
        writer.Key(L"columns");
        writer.StartObject();
        for (const auto& column : node.columns)
        {
            writer.Key(column.name.c_str());
            if (column.text)
                write_string(writer, *column.text);
            else
                writer.Null();
        }
        writer.EndObject();
        writer.Key(L"column_errors");
        writer.StartObject();
        for (const auto& column : node.columns)
            if (!column.text)
            {
                writer.Key(column.name.c_str());
                write_string(writer, hresult_text(column.result));
            }
        writer.EndObject();
    }
    writer.Key(L"errors");
    writer.StartArray();
    for (const auto& error : node.errors)
        write_string(writer, error);
    writer.EndArray();
    if (node.walked)
    {
        writer.Key(L"children");
        writer.StartArray();
        for (const auto& child : node.children)
            json_item(writer, child);
        writer.EndArray();
    }
    writer.EndObject();
}
} // namespace

std::string text_output(const std::vector<item>& roots, const options&)
{
    std::wstring out;
    for (const auto& root : roots)
        text_item(root, 0, {}, out);
    return utf8(out);
}

std::string json_output(const std::vector<item>& roots, const options&)
{
    rapidjson::StringBuffer buffer;
    json_writer writer(buffer);
    writer.SetIndent(' ', 2);
    writer.StartObject();
    wchar_t flags[16];
    writer.Key(L"navigation_pane_flags");
    std::swprintf(flags, std::size(flags), L"0x%lX", static_cast<unsigned long>(navigation_pane_flags));
    write_string(writer, flags);
    writer.Key(L"view_flags");
    std::swprintf(flags, std::size(flags), L"0x%lX", static_cast<unsigned long>(view_flags));
    write_string(writer, flags);
    writer.Key(L"roots");
    writer.StartArray();
    for (const auto& root : roots)
        json_item(writer, root);
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}
} // namespace namespace_browser
