#include "host/core/kaReflect.h"

namespace Lode::Core {

void kaFieldTable::push(kaMetaFieldFactory factory, kaMetaField** handle, const char* name, size_t offset,
                        std::function<void(kaMetaField*)> setUp)
{
    _entries.push_back({factory, handle, name, offset, std::move(setUp)});
}

template <class Field, class Value>
static std::function<void(kaMetaField*)> defaultSetter(Value value)
{
    return [value](kaMetaField* field) { static_cast<Field*>(field)->setDefault(value); };
}

void kaFieldTable::add(kaBoolMetaField** handle, const char* name, size_t offset, bool defaultValue)
{
    push(&kaBoolMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         defaultSetter<kaBoolMetaField>(defaultValue));
}

void kaFieldTable::add(kaIntMetaField** handle, const char* name, size_t offset, int32_t defaultValue)
{
    push(&kaIntMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         defaultSetter<kaIntMetaField>(defaultValue));
}

void kaFieldTable::add(kaUnsignedIntMetaField** handle, const char* name, size_t offset, uint32_t defaultValue)
{
    push(&kaUnsignedIntMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         defaultSetter<kaUnsignedIntMetaField>(defaultValue));
}

void kaFieldTable::add(kaFloatMetaField** handle, const char* name, size_t offset, float defaultValue)
{
    push(&kaFloatMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         defaultSetter<kaFloatMetaField>(defaultValue));
}

void kaFieldTable::add(kaEnumMetaField** handle, const char* name, size_t offset, int32_t defaultValue,
                       kaGetMetaEnumFunction getMetaEnum)
{
    push(&kaEnumMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         [defaultValue, getMetaEnum](kaMetaField* field) {
             auto* enumField = static_cast<kaEnumMetaField*>(field);
             enumField->setDefault(defaultValue);
             enumField->setGetMetaEnumFunction(getMetaEnum);
         });
}

void kaFieldTable::add(kaStringMetaField** handle, const char* name, size_t offset)
{
    push(&kaStringMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset, {});
}

void kaFieldTable::add(kaStringMetaField** handle, const char* name, size_t offset, const char* defaultValue)
{
    std::string text = defaultValue ? defaultValue : "";
    bool isNull = defaultValue == nullptr;
    push(&kaStringMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         [text, isNull](kaMetaField* field) {
             auto* stringField = static_cast<kaStringMetaField*>(field);
             stringField->setDefault(isNull ? nullptr : text.c_str());
             stringField->setHasDeclaredDefault(true);
         });
}

void kaFieldTable::add(kaObjectRefMetaField** handle, const char* name, size_t offset, kaMetaObject* referenced,
                       kaRefFlags flags)
{
    push(&kaObjectRefMetaField::_instantiateFromPool, reinterpret_cast<kaMetaField**>(handle), name, offset,
         [referenced, flags](kaMetaField* field) {
             auto* refField = static_cast<kaObjectRefMetaField*>(field);
             refField->setMetaObject(referenced);
             refField->setConstruct(flags == kaRefFlags::Construct);
             refField->setTransient(flags == kaRefFlags::Transient);
         });
}

void kaFieldTable::addFloats(const char* name, size_t offset, int count, const float* defaultValue)
{
    std::vector<float> values = defaultValue ? std::vector<float>(defaultValue, defaultValue + count)
                                             : std::vector<float>(count, 0.0f);
    push(&kaFloatArrayMetaField::_instantiateFromPool, nullptr, name, offset,
         [count, values](kaMetaField* field) {
             auto* floats = static_cast<kaFloatArrayMetaField*>(field);
             floats->setCount(count);
             floats->setDefault(values.data());
         });
}

void kaFieldTable::addObjectList(const char* name, size_t offset)
{
    push(&kaObjectListMetaField::_instantiateFromPool, nullptr, name, offset, {});
}

void kaFieldTable::describe(const char* meaning)
{
    if (!_entries.empty()) _entries.back().description = meaning;
}

void kaFieldTable::declare()
{
    const int count = static_cast<int>(_entries.size());
    std::vector<kaMetaFieldFactory> factories;
    std::vector<const char*> names;
    std::vector<kaMetaField**> handles;
    std::vector<size_t> offsets;
    for (const Entry& entry : _entries) {
        factories.push_back(entry.factory);
        names.push_back(entry.name);
        handles.push_back(entry.handle);
        offsets.push_back(entry.offset);
    }
    const int first = _meta->getMetaFieldCount();
    _meta->instantiateAndAppendFields(factories.data(), count);
    for (int i = 0; i < count; ++i) {
        kaMetaField* field = _meta->getIndexedMetaField(first + i);
        if (_entries[i].setUp) _entries[i].setUp(field);
        if (_entries[i].description) field->setDescription(_entries[i].description);
    }
    _meta->setMetaFieldBasicPropertiesAndValidateAll(names.data(), handles.data(), offsets.data(), first);
}

} // namespace Lode::Core
