#pragma once

#include "Registry.h"
#include "basReg.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// An in-memory registry whose calls can be made to fail with any code, or
// to throw, so that every path of basReg can be reached.
class FakeRegistry : public reg::Registry
{
public:
    struct Value { std::uint32_t type; std::string bytes; };
    enum class Call { Create, Open, Set, Delete, Query, Close };
    static constexpr long throws = -1;

    // Keys are known by their lower-case path below a root.
    std::map<std::string, std::map<std::string, Value>> keys;
    std::map<Call, long> failures;

    static std::string keyName(reg::HKEY root, std::string path)
    {
        std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return std::to_string(root) + ":" + path;
    }
    int keysLeftOpen() const { return int(m_open.size()); }

    long createKey(reg::HKEY root, const std::string &path, std::uint32_t, reg::HKEY *key) override
    {
        if (const long code = failure(Call::Create))
            return code;
        keys[keyName(root, path)];
        return hand(root, path, key);
    }
    long openKey(reg::HKEY root, const std::string &path, std::uint32_t, reg::HKEY *key) override
    {
        if (const long code = failure(Call::Open))
            return code;
        return keys.count(keyName(root, path)) ? hand(root, path, key) : reg::ERROR_FILE_NOT_FOUND;
    }
    long setValue(reg::HKEY key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override
    {
        if (const long code = failure(Call::Set))
            return code;
        keys[m_open.at(key)][name] = {type, std::string(reinterpret_cast<const char *>(data), size)};
        return reg::ERROR_SUCCESS;
    }
    long deleteValue(reg::HKEY key, const std::string &name) override
    {
        if (const long code = failure(Call::Delete))
            return code;
        return keys[m_open.at(key)].erase(name) ? reg::ERROR_SUCCESS : reg::ERROR_FILE_NOT_FOUND;
    }
    long queryValue(reg::HKEY key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override
    {
        if (const long code = failure(Call::Query))
            return code;
        const auto &values = keys[m_open.at(key)];
        const auto found = values.find(name);
        if (found == values.end())
            return reg::ERROR_FILE_NOT_FOUND;
        *type = found->second.type;
        const std::string &bytes = found->second.bytes;
        const bool fits = bytes.size() <= *size;
        if (fits)
            std::copy(bytes.begin(), bytes.end(), data);
        *size = std::uint32_t(bytes.size());
        return fits ? reg::ERROR_SUCCESS : reg::ERROR_MORE_DATA;
    }
    long closeKey(reg::HKEY key) override
    {
        m_open.erase(key);
        return failure(Call::Close);
    }

private:
    long failure(Call call)
    {
        const auto found = failures.find(call);
        if (found != failures.end() && found->second == throws)
            throw std::runtime_error("Erreur d'entrée/sortie sur le périphérique");
        return found == failures.end() ? reg::ERROR_SUCCESS : found->second;
    }
    long hand(reg::HKEY root, const std::string &path, reg::HKEY *key)
    {
        m_open[*key = m_next++] = keyName(root, path);
        return reg::ERROR_SUCCESS;
    }

    std::map<reg::HKEY, std::string> m_open;
    reg::HKEY m_next = 100;
};

// Keeps every message box the library shows.
class CapturedMessages : public MessageSink
{
public:
    struct Message { std::string caption, text; };
    std::vector<Message> shown;

    void showWarning(const std::string &caption, const std::string &text) override { shown.push_back({caption, text}); }
};
