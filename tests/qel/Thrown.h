// What a call throws, as text, so that tests compare failures with one string.
#pragma once

#include <string>

#include "qel_exception.h"

// A CException's message, "int N", or what the call did instead.
template <typename Fn>
std::string Thrown(Fn&& fn) {
    try {
        fn();
    } catch (const qel::CException& e) {
        return e.Message();
    } catch (int value) {
        return "int " + std::to_string(value);
    } catch (...) {
        return "another exception";
    }
    return "no exception";
}
