#include "host/core/kaMeta.h"

#include "host/core/kaText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <limits>
#include <strings.h>
#include <unordered_map>

namespace Lode::Core {

namespace {

bool parseFloat(const std::string& text, float& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE) return false;
    value = static_cast<float>(parsed);
    return true;
}

bool parseSigned(const std::string& text, long long low, long long high, long long& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

bool parseUnsigned(const std::string& text, unsigned long long high, unsigned long long& value)
{
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed > high) return false;
    value = parsed;
    return true;
}

template <class T> bool parseNumber(const std::string& text, T& value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return parseFloat(text, value);
    } else if constexpr (std::is_signed_v<T>) {
        long long parsed;
        if (!parseSigned(text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), parsed)) return false;
        value = static_cast<T>(parsed);
        return true;
    } else {
        unsigned long long parsed;
        if (!parseUnsigned(text, std::numeric_limits<T>::max(), parsed)) return false;
        value = static_cast<T>(parsed);
        return true;
    }
}

template <class T> std::string formatNumber(T value)
{
    if constexpr (std::is_floating_point_v<T>)
        return kaFormatFloat(value);
    else
        return std::to_string(static_cast<long long>(value));
}

std::unordered_map<std::string, kaMetaObject*>& classesByName()
{
    static auto* classes = new std::unordered_map<std::string, kaMetaObject*>();
    return *classes;
}

std::vector<kaMetaObject*>& classesInOrder()
{
    static auto* classes = new std::vector<kaMetaObject*>();
    return *classes;
}

} // namespace

void kaMetaField::setBasicProperties(const char* name, size_t offset, const kaMetaObject* owner)
{
    _name = name;
    _offset = offset;
    _owner = owner;
}

// ---- scalars ----

template <class T, kaFieldKind Kind>
bool kaScalarMetaField<T, Kind>::parse(const char* text, T& value, std::string& error)
{
    std::string s = kaTrim(text ? text : "");
    if constexpr (std::is_same_v<T, bool>) {
        const char* truths[] = {"true", "1", "yes"};
        const char* falses[] = {"false", "0", "no"};
        for (const char* t : truths)
            if (strcasecmp(s.c_str(), t) == 0) return value = true, true;
        for (const char* f : falses)
            if (strcasecmp(s.c_str(), f) == 0) return value = false, true;
        error = "'" + s + "' is not a bool (true, false, 1, 0, yes or no)";
        return false;
    } else {
        if (parseNumber(s, value)) return true;
        if constexpr (std::is_same_v<T, uint32_t>)
            error = !s.empty() && s[0] == '-' ? "'" + s + "' is negative; the field is unsigned"
                                              : "'" + s + "' is not an unsigned integer";
        else if constexpr (std::is_same_v<T, int32_t>)
            error = "'" + s + "' is not an integer";
        else
            error = "'" + s + "' is not a number";
        return false;
    }
}

template <class T, kaFieldKind Kind> std::string kaScalarMetaField<T, Kind>::format(T value)
{
    if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else
        return formatNumber(value);
}

template <class T, kaFieldKind Kind>
bool kaScalarMetaField<T, Kind>::setFromText(kaObject* object, const char* text, std::string& error) const
{
    T value{};
    if (!parse(text, value, error)) return false;
    set(object, value);
    return true;
}

template <class T, kaFieldKind Kind> std::string kaScalarMetaField<T, Kind>::getTypeName() const
{
    if constexpr (std::is_same_v<T, bool>) return "bool";
    if constexpr (std::is_same_v<T, int32_t>) return "int";
    if constexpr (std::is_same_v<T, uint32_t>) return "unsigned";
    return "float";
}

template class kaScalarMetaField<bool, kaFieldKind::Bool>;
template class kaScalarMetaField<int32_t, kaFieldKind::Int>;
template class kaScalarMetaField<uint32_t, kaFieldKind::UnsignedInt>;
template class kaScalarMetaField<float, kaFieldKind::Float>;

// ---- enumerations ----

kaMetaEnum* kaMetaEnum::createMetaEnum(const char* name, const char* const* valueNames, const int32_t* values,
                                       int count)
{
    auto* metaEnum = new kaMetaEnum();
    metaEnum->_name = name;
    for (int i = 0; i < count; ++i) metaEnum->_entries.emplace_back(valueNames[i], values[i]);
    return metaEnum;
}

const char* kaMetaEnum::findName(int32_t value) const
{
    for (const auto& entry : _entries)
        if (entry.second == value) return entry.first.c_str();
    return nullptr;
}

bool kaMetaEnum::parse(const char* text, int32_t& value) const
{
    std::string s = kaTrim(text ? text : "");
    for (const auto& entry : _entries)
        if (entry.first == s) return value = entry.second, true;
    for (const auto& entry : _entries)
        if (strcasecmp(entry.first.c_str(), s.c_str()) == 0) return value = entry.second, true;
    long long number;
    if (parseSigned(s, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), number) &&
        findName(static_cast<int32_t>(number)))
        return value = static_cast<int32_t>(number), true;
    return false;
}

bool kaEnumMetaField::setFromText(kaObject* object, const char* text, std::string& error) const
{
    kaMetaEnum* metaEnum = getMetaEnum();
    int32_t value = 0;
    if (metaEnum) {
        if (!metaEnum->parse(text, value)) {
            const std::string given = kaTrim(text ? text : "");
            std::vector<std::string> names;
            for (int i = 0; i < metaEnum->getCount(); ++i) names.emplace_back(metaEnum->getValueName(i));
            error = "'" + given + "' is not a value of " + metaEnum->getName() + " (";
            for (size_t i = 0; i < names.size(); ++i) error += (i ? ", " : "") + names[i];
            error += ")" + kaDidYouMean(given, names);
            return false;
        }
    } else {
        long long number;
        if (!parseSigned(kaTrim(text ? text : ""), std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                         number)) {
            error = "'" + kaTrim(text ? text : "") + "' is not an integer";
            return false;
        }
        value = static_cast<int32_t>(number);
    }
    set(object, value);
    return true;
}

std::string kaEnumMetaField::toText(const kaObject* object) const
{
    kaMetaEnum* metaEnum = getMetaEnum();
    const char* name = metaEnum ? metaEnum->findName(get(object)) : nullptr;
    return name ? name : std::to_string(get(object));
}

std::string kaEnumMetaField::getTypeName() const
{
    kaMetaEnum* metaEnum = getMetaEnum();
    return metaEnum ? std::string("enum ") + metaEnum->getName() : "enum";
}

std::string kaEnumMetaField::getDefaultText() const
{
    kaMetaEnum* metaEnum = getMetaEnum();
    const char* name = metaEnum ? metaEnum->findName(_default) : nullptr;
    return name ? name : std::to_string(_default);
}

// ---- strings ----

bool kaStringMetaField::setFromText(kaObject* object, const char* text, std::string& error) const
{
    (void)error;
    set(object, kaUnquote(kaTrim(text ? text : "")).c_str());
    return true;
}

std::string kaStringMetaField::toText(const kaObject* object) const
{
    const char* text = get(object);
    return text ? "\"" + std::string(text) + "\"" : "null";
}

std::string kaStringMetaField::getDefaultText() const
{
    return _defaultIsNull ? "null" : "\"" + _default + "\"";
}

// ---- object references ----

void kaObjectRefMetaField::set(kaObject* object, kaObject* value) const
{
    if (value) value->addRef();
    kaObject*& slot = member<kaObject*>(object);
    kaObject* old = slot;
    slot = value;
    kaObject::release(old);
}

void kaObjectRefMetaField::applyDefault(kaObject* object) const
{
    if (!_construct || !_referenced || !_referenced->canCreateInstance()) return;
    kaObject* created = _referenced->createInstance(nullptr);
    set(object, created);
    kaObject::release(created);
}

bool kaObjectRefMetaField::setFromText(kaObject* object, const char* text, std::string& error) const
{
    kaObject* target = get(object);
    if (!target) {
        if (!_referenced || !_referenced->canCreateInstance()) {
            error = "field " + std::string(getName()) + " cannot be given as text";
            return false;
        }
        target = _referenced->createInstance(nullptr);
        bool parsed = target->setFromText(text, error);
        if (parsed) set(object, target);
        kaObject::release(target);
        return parsed;
    }
    return target->setFromText(text, error);
}

std::string kaObjectRefMetaField::toText(const kaObject* object) const
{
    kaObject* target = get(object);
    return target ? target->toText() : "null";
}

std::string kaObjectRefMetaField::getTypeName() const
{
    return std::string("ref ") + (_referenced ? _referenced->getName() : "kaObject");
}

// ---- inline floats ----

void kaFloatArrayMetaField::applyDefault(kaObject* object) const
{
    std::copy(_default.begin(), _default.end(), get(object));
}

bool kaFloatArrayMetaField::setFromText(kaObject* object, const char* text, std::string& error) const
{
    std::vector<std::string> parts = kaSplit(text ? text : "", ',');
    if (static_cast<int>(parts.size()) != _count) {
        error = "expected " + std::to_string(_count) + " comma-separated numbers";
        return false;
    }
    std::vector<float> values(_count);
    for (int i = 0; i < _count; ++i)
        if (!parseFloat(parts[i], values[i])) {
            error = "'" + parts[i] + "' is not a number";
            return false;
        }
    std::copy(values.begin(), values.end(), get(object));
    return true;
}

std::string kaFloatArrayMetaField::toText(const kaObject* object) const
{
    std::string text;
    const float* values = get(object);
    for (int i = 0; i < _count; ++i) text += (i ? ", " : "") + kaFormatFloat(values[i]);
    return text;
}

std::string kaFloatArrayMetaField::getDefaultText() const
{
    std::string text;
    for (int i = 0; i < _count; ++i) text += (i ? ", " : "") + kaFormatFloat(_default[i]);
    return text;
}

// ---- object lists ----

bool kaObjectListMetaField::setFromText(kaObject*, const char*, std::string& error) const
{
    error = "field " + std::string(getName()) + " is a list of objects and cannot be given as text";
    return false;
}

std::string kaObjectListMetaField::toText(const kaObject* object) const
{
    return "[" + std::to_string(get(object).size()) + " entries]";
}

// ---- data blocks ----

template <> const char* kaTDataBlockMetaField<float>::getElementTypeName() const { return "float"; }
template <> const char* kaTDataBlockMetaField<int32_t>::getElementTypeName() const { return "int"; }
template <> const char* kaTDataBlockMetaField<uint32_t>::getElementTypeName() const { return "unsigned"; }
template <> const char* kaTDataBlockMetaField<uint16_t>::getElementTypeName() const { return "uint16"; }
template <> const char* kaTDataBlockMetaField<uint8_t>::getElementTypeName() const { return "uint8"; }

template <class T>
bool kaTDataBlockMetaField<T>::setFromText(kaObject* object, const char* text, std::string& error) const
{
    std::vector<std::string> parts = kaSplit(text ? text : "", ',');
    kaBlock<T> values(parts.size());
    for (size_t i = 0; i < parts.size(); ++i)
        if (!parseNumber(parts[i], values[i])) {
            error = "'" + parts[i] + "' is not a " + getElementTypeName();
            return false;
        }
    get(object) = std::move(values);
    return true;
}

template <class T> std::string kaTDataBlockMetaField<T>::toText(const kaObject* object) const
{
    const kaBlock<T>& values = get(object);
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + formatNumber(values[i]);
    return text;
}

template class kaTDataBlockMetaField<float>;
template class kaTDataBlockMetaField<int32_t>;
template class kaTDataBlockMetaField<uint32_t>;
template class kaTDataBlockMetaField<uint16_t>;
template class kaTDataBlockMetaField<uint8_t>;

// ---- meta objects ----

bool kaMetaObject::isOfType(const kaMetaObject* other) const
{
    for (const kaMetaObject* meta = this; meta; meta = meta->_base)
        if (meta == other) return true;
    return false;
}

void kaMetaObject::ensureRegistered() const
{
    if (!_fullyRegistered && !_registering && _registration) kaArkRegister(_registration);
}

bool kaMetaObject::canCreateInstance() const
{
    ensureRegistered();
    return _constructor != nullptr;
}

kaObject* kaMetaObject::createInstance(kaMemoryPool* pool) const
{
    kaObject* object = constructInstance(pool);
    if (object)
        for (kaMetaField* field : _fields) field->applyDefault(object);
    return object;
}

kaObject* kaMetaObject::constructInstance(kaMemoryPool* pool) const
{
    ensureRegistered();
    if (!_constructor) return nullptr;
    kaObject* object = _constructor(pool);
    object->_pool = pool;
    object->_refCount = 1;
    return object;
}

kaMetaField* kaMetaObject::findMetaField(const char* name) const
{
    if (!name) return nullptr;
    for (kaMetaField* field : _fields)
        if (std::strcmp(field->getName(), name) == 0) return field;
    return nullptr;
}

void kaMetaObject::instantiateAndAppendFields(const kaMetaFieldFactory* factories, int count)
{
    for (int i = 0; i < count; ++i) _fields.push_back(factories[i](kaMemoryPool::getSystemMemoryPool()));
}

void kaMetaObject::setMetaFieldBasicPropertiesAndValidateAll(const char* const* names, kaMetaField** const* handles,
                                                             const size_t* offsets, int first)
{
    for (int i = first; i < getMetaFieldCount(); ++i) {
        kaMetaField* field = _fields[i];
        field->setBasicProperties(names[i - first], offsets[i - first], this);
        if (handles && handles[i - first]) *handles[i - first] = field;
        // A name declared twice would make set-by-name ambiguous: a programming error.
        for (int j = 0; j < i; ++j)
            if (std::strcmp(_fields[j]->getName(), field->getName()) == 0) {
                std::fprintf(stderr, "kaMetaObject %s: field %s declared twice\n", getName(), field->getName());
                std::abort();
            }
        if (field->getOffset() >= _size) {
            std::fprintf(stderr, "kaMetaObject %s: field %s lies outside the object\n", getName(), field->getName());
            std::abort();
        }
    }
}

const std::vector<kaMetaObject*>& kaMetaObject::getRegisteredClasses() { return classesInOrder(); }

kaMetaObject* kaMetaObject::findClass(const char* name)
{
    if (!name) return nullptr;
    auto found = classesByName().find(name);
    return found == classesByName().end() ? nullptr : found->second;
}

kaMetaObject* kaCreateEmptyMetaObject() { return new kaMetaObject(); }

void kaArkRegister(kaRegistrationFunction registration)
{
    if (registration) registration();
}

kaObject* kaArkRegisterFull(bool, kaMetaObject** metaSlot, kaRegistrationFunction registerBase,
                            kaGetMetaFunction getBaseMeta, kaGetMetaFunction, const char* name, size_t size,
                            kaConstructorFunction constructor, void*, kaFieldDeclarationFunction declareFields, void*,
                            const kaRegistrationFunction* referencedTypes)
{
    if (*metaSlot && ((*metaSlot)->_fullyRegistered || (*metaSlot)->_registering)) return nullptr;
    if (!*metaSlot) *metaSlot = kaCreateEmptyMetaObject();
    kaMetaObject* meta = *metaSlot;
    meta->_registering = true;

    if (registerBase) kaArkRegister(registerBase);
    meta->_name = name;
    meta->_base = getBaseMeta ? getBaseMeta() : nullptr;
    meta->_size = size;
    meta->_constructor = constructor;
    if (meta->_base) meta->_fields = meta->_base->_fields;
    meta->_firstOwnField = meta->getMetaFieldCount();

    if (referencedTypes)
        for (const kaRegistrationFunction* type = referencedTypes; *type; ++type) kaArkRegister(*type);
    if (declareFields) declareFields();

    meta->_registering = false;
    meta->_fullyRegistered = true;
    classesByName()[meta->_name] = meta;
    classesInOrder().push_back(meta);
    return nullptr;
}

} // namespace Lode::Core
