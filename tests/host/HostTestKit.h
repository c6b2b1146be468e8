#pragma once

// Test classes shared by the host's test programs.

#include "IPMStream.h"
#include "ObjectModel.h"

#include <cstdint>
#include <string>

namespace hosttest {

// A persistent value: a number and a text, written in that order.
class ITestValue : public IPMUnknown {
public:
    virtual int32_t Get() const = 0;
    virtual std::string Text() const = 0;
    virtual void Set(int32_t value, const std::string& text) = 0;
};

// Its implementation, for ITestValue or an interface that only gives it an
// IID of its own.
template <class Interface = ITestValue> class TestValueOf : public CPMUnknown<Interface> {
public:
    explicit TestValueOf(IPMUnknown* o) : CPMUnknown<Interface>(o) {}
    int32_t Get() const override { return value; }
    std::string Text() const override { return text; }
    void Set(int32_t v, const std::string& t) override {
        this->PreDirty();
        value = v;
        text = t;
    }
    void ReadWrite(IPMStream* s, ImplementationID) override {
        s->XferInt32(value);
        s->XferString(text);
    }

private:
    int32_t value = 0;
    std::string text;
};
using TestValue = TestValueOf<>;

} // namespace hosttest
