// COM automation services: an object variable holds one IDispatch pointer or
// nothing; members are called by name with runtime values as arguments.
// The calling thread must have initialised COM.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <variant>
#include <vector>

#include "runtime/value/value.h"
#ifdef _WIN32
#include "runtime/win/com.h"
#endif

struct IDispatch;

namespace rt {

// An object variable. Copies share the object (one more reference each);
// destroying the variable releases its reference.
class ComObject {
 public:
  ComObject() = default;
  ComObject(const ComObject& other);
  ComObject(ComObject&& other) noexcept;
  ComObject& operator=(const ComObject& other);
  ComObject& operator=(ComObject&& other) noexcept;
  ~ComObject();

  // Takes over one reference that the caller owns.
  static ComObject adopt(IDispatch* object);
  IDispatch* get() const { return p_; }
  bool empty() const { return p_ == nullptr; }
  void clear();

 private:
  IDispatch* p_ = nullptr;
};

// The runtime kinds that travel to and from automation members. Empty
// (monostate) is what a failed call or a member without a result gives.
using ComValue = std::variant<std::monostate, bool, Date, Text, std::uint8_t, std::int16_t, std::int32_t,
                              std::int64_t, float, double, ComObject>;

// Releases what `object` held, then creates the class. With a type library
// and a name not starting with a brace, the class is looked up by name in the
// library (registered first when the path holds a backslash); failing that,
// or without a library, the name is a ProgID or a "{CLSID}". True when
// `object` now holds the object.
bool com_create(ComObject& object, const Text& class_name, const Text& type_library = Text());

// Calls the member as a method, else as a property get, put, put-by-reference
// (the puts only when there are arguments). The member's result, converted;
// empty when every way failed, and then *succeeded is false.
ComValue com_call_method(const ComObject& object, const Text& member, const std::vector<ComValue>& arguments = {},
                         bool* succeeded = nullptr);

// Puts the property, else puts it by reference, else calls it as a method
// with the value. True on success.
bool com_set_property(const ComObject& object, const Text& member, const ComValue& value);

bool com_is_empty(const ComObject& object);
void com_assign(ComObject& target, const ComObject& source);
void com_clear(ComObject& object);

}  // namespace rt
