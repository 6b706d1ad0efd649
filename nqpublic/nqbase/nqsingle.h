// Process-wide objects created on first use.
//
// CSingleT<T>::Instance() creates the one T on the first call (thread-safe,
// once) and hands out shared references to it; the object lives until the
// process ends. T keeps its constructor private and befriends CSingleT<T>.
#pragma once

#include <memory>

template <typename T>
class CSingleT {
public:
    static std::shared_ptr<T> Instance() {
        static const std::shared_ptr<T> instance(new T());
        return instance;
    }
};
