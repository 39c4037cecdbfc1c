#include "platform/standin/dialog_template.h"

#include <strings.h>

#include <cstring>

#include "platform/standin/resources.h"

namespace orv::standin {

namespace {

// Reads a template with bounds checks; any overrun makes it malformed.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t position() const { return pos_; }

  template <class T>
  T Read() {
    T value{};
    if (pos_ + sizeof(T) > size_) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }

  void AlignTo4() { pos_ = (pos_ + 3) & ~size_t{3}; }
  void Skip(size_t n) {
    if (pos_ + n > size_) ok_ = false;
    pos_ += n;
  }

  // A zero-terminated UTF-16 string, as narrow text ('?' beyond ASCII).
  std::string String() {
    std::string text;
    for (;;) {
      const WORD c = Read<WORD>();
      if (!ok_ || c == 0) return text;
      text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
  }

  // A name or a number: 0 (none), 0xFFFF then the number, or a string.
  void NameOrNumber(std::string* name, int32_t* number) {
    const WORD first = Read<WORD>();
    if (first == 0xFFFF) {
      *number = Read<WORD>();
    } else if (first != 0) {
      pos_ -= sizeof(WORD);
      *name = String();
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

Kind KindOfClass(const std::string& name, int32_t atom) {
  if (atom == 0x80 || strcasecmp(name.c_str(), "Button") == 0) return Kind::kButton;
  if (atom == 0x82 || strcasecmp(name.c_str(), "Static") == 0) return Kind::kStatic;
  return Kind::kOther;
}

bool ParseTemplate(const uint8_t* data, size_t size, DialogTemplate* out) {
  TemplateReader r(data, size);
  DialogTemplate t;
  t.style = r.Read<DWORD>();
  if (t.style == 0xFFFF0001) return false;  // the extended form is not used here
  r.Read<DWORD>();                          // extended style
  const WORD count = r.Read<WORD>();
  t.x = r.Read<int16_t>();
  t.y = r.Read<int16_t>();
  t.cx = r.Read<int16_t>();
  t.cy = r.Read<int16_t>();
  std::string name;
  int32_t number = -1;
  r.NameOrNumber(&name, &number);  // menu
  r.NameOrNumber(&name, &number);  // dialog class
  t.caption = r.String();
  if (t.style & DS_SETFONT) {
    r.Read<WORD>();  // point size
    r.String();      // face
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignTo4();
    ItemTemplate item;
    item.style = r.Read<DWORD>();
    r.Read<DWORD>();  // extended style
    item.x = r.Read<int16_t>();
    item.y = r.Read<int16_t>();
    item.cx = r.Read<int16_t>();
    item.cy = r.Read<int16_t>();
    item.id = r.Read<WORD>();
    std::string className;
    int32_t atom = -1;
    r.NameOrNumber(&className, &atom);
    item.kind = KindOfClass(className, atom);
    r.NameOrNumber(&item.text, &item.ordinal);
    r.Skip(r.Read<WORD>());  // creation data
    t.items.push_back(std::move(item));
  }
  if (!r.ok()) return false;
  *out = std::move(t);
  return true;
}

}  // namespace

bool LoadTemplate(HMODULE module, LPCSTR name, DialogTemplate* out) {
  return UseResource(module, name, RT_DIALOG, [out](const uint8_t* data, size_t size) {
    return ParseTemplate(data, size, out);
  });
}

}  // namespace orv::standin
