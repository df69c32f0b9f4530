#pragma once
// Compile-time checks of an author's component class, so that a missing or
// misspelt member is reported in the author's terms at the line that names
// the class (ConverterClass<T>/TranslatorClass<T>), not deep inside the kit.
#include <windows.h>
#include <string>
#include <type_traits>

#include "vembro/kit/Format.h"
#include "vembro/kit/Runner.h"

namespace vembro::kit::checks {

template <class, class = void> struct HasFormats : std::false_type {};
template <class T>
struct HasFormats<T, std::void_t<decltype(T::kSource), decltype(T::kTarget)>>
    : std::bool_constant<std::is_same_v<std::remove_cv_t<decltype(T::kSource)>, FormatSpec> &&
                         std::is_same_v<std::remove_cv_t<decltype(T::kTarget)>, FormatSpec>> {};

template <class, class = void> struct HasDetect : std::false_type {};
template <class T>
struct HasDetect<T, std::void_t<decltype(T::Detect(std::declval<const std::string&>()))>>
    : std::is_same<decltype(T::Detect(std::declval<const std::string&>())), HRESULT> {};

// Optional: 'static HRESULT CheckHead(const std::string& head)', a refusal
// at the start of an asynchronous run, where its code still reaches the caller.
template <class, class = void> struct HasCheckHead : std::false_type {};
template <class T>
struct HasCheckHead<T, std::void_t<decltype(T::CheckHead(std::declval<const std::string&>()))>>
    : std::is_same<decltype(T::CheckHead(std::declval<const std::string&>())), HRESULT> {};

template <class, class = void> struct HasConvert : std::false_type {};
template <class T>
struct HasConvert<T, std::void_t<decltype(std::declval<T&>().Convert(
                         std::declval<IStream*>(), std::declval<IStream*>(), std::declval<Progress&>()))>>
    : std::true_type {};

template <class, class = void> struct HasTranslate : std::false_type {};
template <class T>
struct HasTranslate<T, std::void_t<decltype(std::declval<T&>().Translate(
                           std::declval<IDispatch*>(), std::declval<IStream*>(), std::declval<IStream*>(),
                           std::declval<Progress&>()))>> : std::true_type {};

template <class T>
constexpr bool CommonMembers()
{
    static_assert(HasFormats<T>::value,
                  "a component class needs 'static constexpr vembro::kit::FormatSpec kSource{...}' and 'kTarget{...}'");
    static_assert(HasDetect<T>::value,
                  "a component class needs 'static HRESULT Detect(const std::string& head)' "
                  "(S_OK: in kSource, S_FALSE: not, anything else: cannot tell)");
    return true;
}

} // namespace vembro::kit::checks
