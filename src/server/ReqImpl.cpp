#include "server/ReqImpl.h"

#include <stdexcept>

#include "server/WebServerRequest.h"

namespace zephyrine::server {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

template <class F>
HRESULT Guarded(F&& operation) {
    try {
        operation();
        return kS_OK;
    } catch (...) {
        return kE_UNEXPECTED;
    }
}

std::string BytesToText(const TByteArray& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TByteArray TextToBytes(std::string_view text) {
    return TByteArray(text.begin(), text.end());
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
    static constexpr char32_t kMinForLength[4] = {0, 0x80, 0x800, 0x10000};
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t cp = c;
        if (c >= 0x80) {
            if ((c & 0xE0) == 0xC0) {
                extra = 1;
                cp = c & 0x1F;
            } else if ((c & 0xF0) == 0xE0) {
                extra = 2;
                cp = c & 0x0F;
            } else if ((c & 0xF8) == 0xF0) {
                extra = 3;
                cp = c & 0x07;
            } else {
                cp = kReplacement;
            }
        }
        bool valid = cp != kReplacement && text.size() - i > extra;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            valid = (d & 0xC0) == 0x80;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!valid || cp < kMinForLength[extra] || cp > kMaxCodePoint ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += extra + 1;
    }
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t w : text) {
        auto cp = static_cast<char32_t>(w);
        if (cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

TWebRequestImpl::TWebRequestImpl(TWebServerRequest& request, bool stub,
                                 TWebServerResponse* response)
    : request_(request), stub_(stub), response_(response) {}

HRESULT TWebRequestImpl::HeaderValue(const std::wstring& name, std::wstring& value) {
    return Guarded([&] { value = Utf8ToWide(request_.GetHeaderValue(WideToUtf8(name))); });
}

HRESULT TWebRequestImpl::ReadInto(int count, TByteArray& buffer, int& bytesRead) {
    return Guarded([&] {
        if (count < 0) throw std::invalid_argument("Negative count");
        TByteArray bytes(static_cast<std::size_t>(count));
        bytesRead = request_.ReadBody(bytes.data(), count);
        buffer = std::move(bytes);
    });
}

HRESULT TWebRequestImpl::MapUri(const std::wstring& uri, std::wstring& mapped) {
    return Guarded([&] { mapped = Utf8ToWide(request_.MapURI(WideToUtf8(uri))); });
}

HRESULT TWebRequestImpl::Write(const TVariant& data, int& written) {
    return Guarded([&] {
        if (const auto* text = std::get_if<std::wstring>(&data)) {
            const std::string bytes = WideToUtf8(*text);
            written = request_.WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
        } else if (const auto* bytes = std::get_if<TByteArray>(&data)) {
            written = request_.WriteBytes(bytes->data(), static_cast<int>(bytes->size()));
        } else {
            throw std::logic_error("Unknown variant type");
        }
    });
}

HRESULT TWebRequestImpl::Variable(int index, TVariant& value) {
    return Guarded([&] {
        const std::string text = request_.GetVarText(index);
        if (text.empty()) {
            value = std::monostate{};
        } else {
            value = TextToBytes(text);
        }
    });
}

HRESULT TWebRequestImpl::WriteStatusAndHeaders(int statusCode, const TByteArray& statusText,
                                               const TByteArray& headers, bool& result) {
    return Guarded([&] {
        result = request_.WriteStatusAndHeaders(statusCode, BytesToText(statusText),
                                                BytesToText(headers));
    });
}

HRESULT TWebRequestImpl::IsStub(bool& stub) {
    return Guarded([&] { stub = stub_; });
}

HRESULT TWebRequestImpl::ReadText(int count, TVariant& text) {
    return Guarded([&] { text = TextToBytes(request_.ReadBodyText(count)); });
}

}  // namespace zephyrine::server
