// The reflection mechanism: registration, lazy class types, field order and defaults, text
// forms, interned strings and exact reference counting.
#include "passes/kaEmpty.h"
#include "extension/kaOptExtensionLibrary.h"
#include "host/core/kaReflect.h"
#include "host/core/kaStringObj.h"
#include "host/io/kaKABFile.h"
#include "host/sg/kaGroup.h"
#include "host/sg/kaSceneModel.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Lode::Core;

namespace {

// A class with a field of every kind, registered only when a test first asks for it. Its members
// start otherwise than its declared defaults, so that a test sees the defaults applied.
class kaTestSettings : public kaObject {
    KA_DECLARE_CLASS(kaTestSettings, kaObject)
public:
    enum Mode { Off = 0, Fast = 1, Exact = 4 };
    static kaMetaEnum* getModeMetaEnum();

    bool _enabled = false;
    int32_t _mode = 0;
    int32_t _offset = 0;
    uint32_t _count = 0;
    float _scale = 0;
    kaStringRef _label;
    kaStringRef _untouched;
    kaFloatList* _ranges = nullptr;
    kaStringObj* _note = nullptr;
    float _color[4] = {};

    static kaUnsignedIntMetaField* k_count;

    ~kaTestSettings() override { kaObject::release(_note), kaObject::release(_ranges); }
};

kaUnsignedIntMetaField* kaTestSettings::k_count = nullptr;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaTestSettings, kaFloatList::arkRegister, kaStringObj::arkRegister)

kaMetaEnum* kaTestSettings::getModeMetaEnum()
{
    static const char* names[] = {"Off", "Fast", "Exact"};
    static const int32_t values[] = {Off, Fast, Exact};
    static kaMetaEnum* meta = kaMetaEnum::createMetaEnum("Mode", names, values, 3);
    return meta;
}

void kaTestSettings::arkRegisterInitialize()
{
    const float white[4] = {1, 1, 1, 1};
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaBoolMetaField>, KA_FIELD(kaTestSettings, _enabled), true);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaTestSettings, _mode), Fast, &getModeMetaEnum);
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaTestSettings, _offset), -3);
    fields.add(&k_count, KA_FIELD(kaTestSettings, _count), 7u);
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaTestSettings, _scale), 0.5f);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaTestSettings, _label), "");
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaTestSettings, _untouched));
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaTestSettings, _ranges), kaFloatList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaTestSettings, _note), kaStringObj::getClassTypeLazy());
    fields.addFloats(KA_FIELD(kaTestSettings, _color), 4, white);
    fields.declare();
}

// A subclass that adds one field after its base's.
class kaTestDerived : public kaTestSettings {
    KA_DECLARE_CLASS(kaTestDerived, kaTestSettings)
public:
    uint32_t _extra = 0;
};

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaTestDerived)

void kaTestDerived::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaTestDerived, _extra), 9u);
    fields.declare();
}

std::vector<std::string> fieldNames(const kaMetaObject* meta)
{
    std::vector<std::string> names;
    for (int i = 0; i < meta->getMetaFieldCount(); ++i) names.push_back(meta->getIndexedMetaField(i)->getName());
    return names;
}

} // namespace

// A class named as a reference type before it is registered has a meta object already; its
// registration completes that object, registering the base first. Fields follow the base's in
// declaration order, shared with the base; registering again changes nothing.
TEST(Reflection, LazyClassTypeIsCompletedInPlaceFieldsFollowTheBaseAndInstancesGetTheDefaults)
{
    ASSERT_EQ(kaTestDerived::getClassMeta(), nullptr) << "nothing may register the class before this test";
    kaMetaObject* early = kaTestDerived::getClassTypeLazy();
    ASSERT_NE(early, nullptr);
    EXPECT_TRUE(!early->isFullyRegistered() && early->getMetaFieldCount() == 0 && kaTestDerived::getClassTypeLazy() == early);

    kaTestDerived::arkRegister();
    EXPECT_TRUE(kaTestDerived::getClassMeta() == early && early->isFullyRegistered());
    EXPECT_TRUE(early->getBase() == kaTestSettings::getClassMeta() && kaTestSettings::getClassMeta()->isFullyRegistered());
    EXPECT_EQ(kaMetaObject::findClass("kaTestDerived"), early);

    const std::vector<std::string> expected = {"_enabled", "_mode",  "_offset", "_count", "_scale", "_label",
                                               "_untouched", "_ranges", "_note", "_color", "_extra"};
    EXPECT_EQ(fieldNames(early), expected);
    EXPECT_EQ(early->getFirstOwnField(), 10);
    // The handle points at the field object, which the subclass shares.
    EXPECT_TRUE(early->getIndexedMetaField(3) == kaTestSettings::k_count &&
                kaTestSettings::getClassMeta()->findMetaField("_count") == kaTestSettings::k_count);

    const size_t classCount = kaMetaObject::getRegisteredClasses().size();
    kaTestDerived::arkRegister(), kaTestSettings::arkRegister(), kaArkRegister(&kaTestDerived::arkRegisterInternal);
    EXPECT_EQ(kaMetaObject::getRegisteredClasses().size(), classCount);
    EXPECT_EQ(fieldNames(early), expected);

    // A new instance has the declared defaults: a string without one stays null; an owned list is
    // made (empty) with the object.
    auto object = make<kaTestDerived>();
    std::vector<std::string> defaults;
    for (int i = 0; i < early->getMetaFieldCount(); ++i) defaults.push_back(early->getIndexedMetaField(i)->toText(object));
    EXPECT_EQ(defaults, (std::vector<std::string>{"true", "Fast", "-3", "7", "0.5", "\"\"", "null", "", "null",
                                                  "1, 1, 1, 1", "9"}));
    EXPECT_TRUE(kaTestSettings::dynamicCast(object.get()) == object.get() && !kaStringObj::dynamicCast(object.get()) &&
                !kaStringObj::dynamicCast(static_cast<kaObject*>(nullptr)));
}

// Each text a script or a file may give a field: accepted or refused (with the reason), and the
// field's text afterwards. A refused value changes nothing.
TEST(Reflection, FieldsSetFromTextAndPrint)
{
    auto object = kaSmartPointer<kaTestSettings>::adopt(kaTestSettings::_instantiate());
    const struct { const char *field, *text, *error /* null: accepted */, *printed; } cases[] = {
        {"_enabled", "NO", nullptr, "false"},
        {"_enabled", "Yes", nullptr, "true"},
        {"_enabled", "maybe", "", "true"},
        {"_mode", "Exact", nullptr, "Exact"},
        {"_mode", "fast", nullptr, "Fast"},
        {"_mode", "0", nullptr, "Off"},
        {"_mode", "2", "Off, Fast, Exact", "Off"},  // a number, but not a value of the enumeration
        {"_count", "4294967295", nullptr, "4294967295"},
        {"_count", "-1", "negative", "4294967295"},
        {"_count", "4294967296", "", "4294967295"},
        {"_count", "3 apples", "", "4294967295"},
        {"_offset", "-2147483648", nullptr, "-2147483648"},
        {"_offset", "1.5", "", "-2147483648"},
        {"_scale", "0.1", nullptr, "0.1"},
        {"_scale", "fast", "", "0.1"},
        {"_label", "  \"Hero Left\"  ", nullptr, "\"Hero Left\""},
        {"_ranges", "10, 20.5,40", nullptr, "10, 20.5, 40"},
        {"_ranges", "10, far", "", "10, 20.5, 40"},
        {"_note", "\"keep\"", nullptr, "\"keep\""},  // a null reference to a creatable class is created
        {"_color", "0.5, 0.25, 0, 1", nullptr, "0.5, 0.25, 0, 1"},
        {"_color", "1, 2", "", "0.5, 0.25, 0, 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = " + c.text);
        const kaMetaField* field = object->getMetaObject()->findMetaField(c.field);
        std::string error;
        EXPECT_EQ(field->setFromText(object, c.text, error), c.error == nullptr);
        EXPECT_TRUE(!c.error || error.find(c.error) != std::string::npos) << error;
        EXPECT_EQ(field->toText(object), c.printed);
    }
}

TEST(Reflection, InternedStringsCountEveryHolder)
{
    const char* text = "reflection-test-unique-name";
    kaStringRef a(text);
    EXPECT_EQ(a.getRefCount(), 1);
    {
        kaStringRef b{std::string(text)}, c = a;
        EXPECT_EQ(b.c_str(), a.c_str()) << "one copy of the text";
        auto node = make<Lode::Sg::kaNode>(text);
        EXPECT_EQ(a.getRefCount(), 4);
        node->setName(nullptr);
        EXPECT_EQ(a.getRefCount(), 3);
    }
    EXPECT_EQ(a.getRefCount(), 1);
    const size_t interned = kaStringRef::getInternedCount();
    a = nullptr;
    EXPECT_TRUE(a.getRefCount() == 0 && kaStringRef::getInternedCount() == interned - 1);
}

// Texts dropped in a scattered order while thousands of others stay: every text still held is
// found again as the same entry, and a dropped one comes back as a new text.
TEST(Reflection, InternedTextsStayFoundWhileOthersComeAndGo)
{
    const size_t before = kaStringRef::getInternedCount();
    constexpr int kTexts = 6000;
    std::vector<kaStringRef> held;
    for (int i = 0; i < kTexts; ++i) held.emplace_back("interned-" + std::to_string(i));
    std::vector<const char*> texts;
    for (const kaStringRef& ref : held) texts.push_back(ref.c_str());
    for (int i = 0; i < kTexts; i += 2) held[size_t(i * 7919 % kTexts)] = nullptr;
    size_t found = 0, fresh = 0;
    for (int i = 0; i < kTexts; ++i) {
        kaStringRef again("interned-" + std::to_string(i));
        if (held[size_t(i)].isNull())
            fresh += again.getRefCount() == 1;
        else
            found += again.c_str() == texts[size_t(i)] && again.getRefCount() == 2;
    }
    EXPECT_EQ(found, size_t(kTexts / 2));
    EXPECT_EQ(fresh, size_t(kTexts / 2));
    EXPECT_EQ(kaStringRef::getInternedCount(), before + kTexts / 2);
}

TEST(Reflection, StringObjectFileNameOperations)
{
    auto name = make<kaStringObj>();
    const std::pair<void (*)(kaStringObj&), const char*> steps[] = {
        {[](kaStringObj& s) { s.set("textures/Wall.Diffuse.png"), s.removePathFromFileName(); }, "Wall.Diffuse.png"},
        {[](kaStringObj& s) { s.removeFileExtension(); }, "Wall.Diffuse"},
        {[](kaStringObj& s) { s.appendFileExtension("kab"); }, "Wall.Diffuse.kab"},
        {[](kaStringObj& s) { s.appendFileExtension(".png"); }, "Wall.Diffuse.kab.png"},
        {[](kaStringObj& s) { s.removeFileExtension(2), s.insertBefore("out/", 0), s.toLower(); }, "out/wall.diffuse"},
        {[](kaStringObj& s) { s.keepFileExtension(); }, ".diffuse"},
        // A dot in a folder name is no extension.
        {[](kaStringObj& s) { s.set("dir.v2/readme"), s.removeFileExtension(); }, "dir.v2/readme"},
        {[](kaStringObj& s) { s.printf("lod%d", 3), s.append("/a"); }, "lod3/a"},
    };
    for (const auto& [step, expected] : steps) {
        step(*name);
        EXPECT_STREQ(name->getString(), expected);
    }
}

TEST(Reflection, ObjectListsHoldReferencesAndKeepSortedOrder)
{
    long before = kaObject::getLiveObjectCount();
    {
        auto list = make<kaStringObjList>();
        auto byText = +[](const kaStringObj* a, const kaStringObj* b) { return std::strcmp(a->getString(), b->getString()); };
        std::vector<kaSmartPointer<kaStringObj>> strings;
        for (const char* text : {"m", "c", "x", "c", "a", "b"}) {
            strings.push_back(make<kaStringObj>());
            strings.back()->set(text);
            if (strings.size() < 6) list->sortedAdd(strings.back(), byText);
        }
        EXPECT_EQ(list->toText(), "a, c, c, m, x");
        // Equal entries keep their insertion order.
        EXPECT_TRUE(list->getShared(1) == strings[1].get() && list->getShared(2) == strings[3].get());
        EXPECT_EQ(strings[1]->getRefCount(), 2);
        EXPECT_TRUE(list->sortedFind(strings[2], byText) == 4 && list->sortedFind(strings[5], byText) == -1);

        EXPECT_FALSE(list->appendUnique(strings[0]));
        EXPECT_TRUE(list->appendUnique(strings[5]));
        list->remove(0), list->set(0, strings[5]);
        EXPECT_TRUE(strings[1]->getRefCount() == 1 && strings[5]->getRefCount() == 3);
        list->removeAll();
        EXPECT_EQ(strings[5]->getRefCount(), 1);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), before);
}

TEST(Reflection, ParentListsFollowChildrenWithoutOwningParents)
{
    auto child = make<Lode::Sg::kaNode>();
    {
        auto first = make<Lode::Sg::kaGroup>(), second = make<Lode::Sg::kaGroup>();
        first->appendChild(child), second->appendChild(child);
        EXPECT_EQ(child->getParent(1), second.get());
        EXPECT_EQ(first->getRefCount(), 1) << "a child does not keep its parent alive";
        first->removeChild(child);
        ASSERT_EQ(child->getParentCount(), 1);
        EXPECT_EQ(child->getParent(0), second.get());
    }
    // The second parent is gone; the child must not point at it any more.
    EXPECT_EQ(child->getParentCount(), 0);
}

// A member initialiser that differs from the declared default is misleading at best: every
// instance is made through its meta object and gets the declared default anyway.
TEST(Reflection, EveryClassRegistersOnceAndItsMemberInitialisersAgreeWithItsDefaults)
{
    Lode::Sg::kaRegisterSceneModel(), kaRegisterFileClasses(), Lode::kaOptExtensionLibrary_arkRegister();
    // The plug-in's registration table registers each pass once, however often it is called.
    const size_t classCount = kaMetaObject::getRegisteredClasses().size();
    Lode::kaOptExtensionLibrary_arkRegister(), Lode::OptExtension::kaEmpty::arkRegister();
    EXPECT_EQ(kaMetaObject::getRegisteredClasses().size(), classCount);
    EXPECT_TRUE(kaMetaObject::findClass("kaEmpty") == Lode::OptExtension::kaEmpty::getClassMeta() &&
                Lode::kaOptExtensionLibrary_initialised == 1);
    int checked = 0;
    for (const kaMetaObject* meta : kaMetaObject::getRegisteredClasses()) {
        // The test classes of this file differ on purpose: they show that the defaults are applied.
        if (!meta->canCreateInstance() || std::string(meta->getName()).rfind("kaTest", 0) == 0) continue;
        auto constructed = kaSmartPointer<kaObject>::adopt(meta->constructInstance(nullptr));
        auto created = kaSmartPointer<kaObject>::adopt(meta->createInstance(nullptr));
        for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
            const kaMetaField* field = meta->getIndexedMetaField(i);
            // References and lists start out empty or as constructed objects, not as values.
            if (field->getKind() == kaFieldKind::ObjectRef || field->getKind() == kaFieldKind::ObjectList) continue;
            EXPECT_EQ(field->toText(constructed), field->toText(created))
                << meta->getName() << "::" << field->getName() << " is initialised otherwise than its default";
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}