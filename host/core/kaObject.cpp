#include "host/core/kaObject.h"

#include "host/core/kaMeta.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace Lode::Core {

namespace {
long g_liveObjects = 0;
std::atomic<uint64_t> g_createdObjects{0};
} // namespace

void* kaMemoryPool::allocate(size_t bytes)
{
    void* memory = std::malloc(bytes);
    if (!memory) throw std::bad_alloc();
    ++_liveAllocations;
    return memory;
}

void kaMemoryPool::deallocate(void* memory, size_t)
{
    --_liveAllocations;
    std::free(memory);
}

kaMemoryPool* kaMemoryPool::getSystemMemoryPool()
{
    static kaMemoryPool pool;
    return &pool;
}

// Objects remember their pool in a small header in front of them, so that operator delete
// (which receives only the pointer) gives the memory back where it came from.
namespace {
struct alignas(std::max_align_t) ObjectHeader {
    kaMemoryPool* pool;
};
} // namespace

void* kaObject::operator new(size_t bytes, kaMemoryPool* pool)
{
    size_t total = sizeof(ObjectHeader) + bytes;
    void* memory = pool ? pool->allocate(total) : std::malloc(total);
    if (!memory) throw std::bad_alloc();
    auto* header = static_cast<ObjectHeader*>(memory);
    header->pool = pool;
    return header + 1;
}

void kaObject::operator delete(void* memory, kaMemoryPool*)
{
    operator delete(memory, size_t{0});
}

void kaObject::operator delete(void* memory, size_t bytes)
{
    if (!memory) return;
    ObjectHeader* header = static_cast<ObjectHeader*>(memory) - 1;
    if (header->pool)
        header->pool->deallocate(header, sizeof(ObjectHeader) + bytes);
    else
        std::free(header);
}

kaObject::kaObject() : _creationNumber(g_createdObjects.fetch_add(1, std::memory_order_relaxed)) { ++g_liveObjects; }

kaObject::~kaObject() { --g_liveObjects; }

void kaObject::release(const kaObject* object)
{
    if (!object || --object->_refCount != 0) return;
    // A destructor releases what the object held, which may free more objects in turn: a chain
    // of 100,000 nested groups would take as many nested destructor calls. Objects freed while
    // another is being destroyed wait in a list that the outermost release works through.
    thread_local std::vector<const kaObject*> waiting;
    thread_local bool destroying = false;
    if (destroying) {
        waiting.push_back(object);
        return;
    }
    destroying = true;
    delete object;
    while (!waiting.empty()) {
        const kaObject* next = waiting.back();
        waiting.pop_back();
        delete next;
    }
    destroying = false;
}

long kaObject::getLiveObjectCount() { return g_liveObjects; }

int kaCompareIdentity(const kaObject* a, const kaObject* b)
{
    // An empty entry sorts before every object.
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    const uint64_t first = a->getCreationNumber();
    const uint64_t second = b->getCreationNumber();
    return (first > second) - (first < second);
}

namespace {
thread_local uint32_t g_lastWalk = 0;
}

uint32_t kaObject::beginWalk()
{
    // 0 is the mark of objects that no walk has reached.
    if (++g_lastWalk == 0) ++g_lastWalk;
    return g_lastWalk;
}

uint32_t kaObject::getLastWalk() { return g_lastWalk; }

kaMetaObject* kaObject::getMetaObject() const { return getClassMetaSafe(); }

bool kaObject::isOfType(const kaMetaObject* meta) const
{
    return meta && getMetaObject()->isOfType(meta);
}

kaMetaField* kaObject::getMetaField(const char* name) const
{
    return getMetaObject()->findMetaField(name);
}

bool kaObject::setFromText(const char*, std::string& error)
{
    error = std::string("a ") + getMetaObject()->getName() + " cannot be given as text";
    return false;
}

std::string kaObject::toText() const { return std::string("<") + getMetaObject()->getName() + ">"; }

kaMetaObject* kaObject::_Meta = nullptr;

kaMetaObject* kaObject::getClassMetaSafe()
{
    if (_Meta && _Meta->isFullyRegistered()) return _Meta;
    kaArkRegister(&kaObject::arkRegisterInternal);
    return _Meta;
}

kaMetaObject* kaObject::getClassTypeLazy()
{
    if (!_Meta) _Meta = kaCreateEmptyMetaObject();
    _Meta->setRegistrationFunction(&kaObject::arkRegisterInternal);
    return _Meta;
}

void kaObject::arkRegister() { kaArkRegister(&kaObject::arkRegisterInternal); }

void kaObject::arkRegisterInternal()
{
    kaArkRegisterFull(false, &_Meta, nullptr, nullptr, &kaObject::getClassMetaSafe, "kaObject", sizeof(kaObject),
                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

} // namespace Lode::Core
