// The reflection mechanism: registration, lazy class types, field order and defaults, text
// forms, interned strings and exact reference counting.
#include "extension/kaEmpty.h"
#include "extension/kaOptExtensionLibrary.h"
#include "host/core/kaReflect.h"
#include "host/core/kaStringObj.h"
#include "host/io/kaKABFile.h"
#include "host/sg/kaGroup.h"
#include "host/sg/kaSceneModel.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Lode::Core;

namespace {

// A class with a field of every kind, registered only when a test first asks for it.
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

    static kaBoolMetaField* k_enabled;
    static kaEnumMetaField* k_mode;
    static kaIntMetaField* k_offset;
    static kaUnsignedIntMetaField* k_count;
    static kaFloatMetaField* k_scale;
    static kaStringMetaField* k_label;

    ~kaTestSettings() override
    {
        kaObject::release(_note);
        kaObject::release(_ranges);
    }
};

kaBoolMetaField* kaTestSettings::k_enabled = nullptr;
kaEnumMetaField* kaTestSettings::k_mode = nullptr;
kaIntMetaField* kaTestSettings::k_offset = nullptr;
kaUnsignedIntMetaField* kaTestSettings::k_count = nullptr;
kaFloatMetaField* kaTestSettings::k_scale = nullptr;
kaStringMetaField* kaTestSettings::k_label = nullptr;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaTestSettings, kaFloatList::arkRegister, kaStringObj::arkRegister)

kaMetaEnum* kaTestSettings::getModeMetaEnum()
{
    static kaMetaEnum* meta = nullptr;
    if (!meta) {
        const char* names[] = {"Off", "Fast", "Exact"};
        const int32_t values[] = {Off, Fast, Exact};
        meta = kaMetaEnum::createMetaEnum("Mode", names, values, 3);
    }
    return meta;
}

void kaTestSettings::arkRegisterInitialize()
{
    const float white[4] = {1, 1, 1, 1};
    kaFieldTable fields(_Meta);
    fields.add(&k_enabled, KA_FIELD(kaTestSettings, _enabled), true);
    fields.add(&k_mode, KA_FIELD(kaTestSettings, _mode), Fast, &getModeMetaEnum);
    fields.add(&k_offset, KA_FIELD(kaTestSettings, _offset), -3);
    fields.add(&k_count, KA_FIELD(kaTestSettings, _count), 7u);
    fields.add(&k_scale, KA_FIELD(kaTestSettings, _scale), 0.5f);
    fields.add(&k_label, KA_FIELD(kaTestSettings, _label), "");
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

// Holds the derived class as a reference type before either class is registered.
class kaTestLazyHolder : public kaObject {
    KA_DECLARE_CLASS(kaTestLazyHolder, kaObject)
};
KA_IMPLEMENT_CLASS(kaTestLazyHolder)

std::vector<std::string> fieldNames(const kaMetaObject* meta)
{
    std::vector<std::string> names;
    for (int i = 0; i < meta->getMetaFieldCount(); ++i) names.push_back(meta->getIndexedMetaField(i)->getName());
    return names;
}

} // namespace

TEST(Reflection, LazyClassTypeIsCompletedInPlace)
{
    ASSERT_EQ(kaTestDerived::getClassMeta(), nullptr) << "nothing may register the class before this test";
    kaMetaObject* early = kaTestDerived::getClassTypeLazy();
    ASSERT_NE(early, nullptr);
    EXPECT_FALSE(early->isFullyRegistered());
    EXPECT_EQ(early->getMetaFieldCount(), 0);
    EXPECT_EQ(kaTestDerived::getClassTypeLazy(), early);

    kaTestDerived::arkRegister();
    EXPECT_EQ(kaTestDerived::getClassMeta(), early);
    EXPECT_TRUE(early->isFullyRegistered());
    EXPECT_STREQ(early->getName(), "kaTestDerived");
    // The base was registered first, by the derived class's registration.
    EXPECT_EQ(early->getBase(), kaTestSettings::getClassMeta());
    EXPECT_TRUE(kaTestSettings::getClassMeta()->isFullyRegistered());
    EXPECT_EQ(kaMetaObject::findClass("kaTestDerived"), early);
}

TEST(Reflection, FieldsFollowTheBaseInDeclarationOrderAndRegisterOnce)
{
    kaMetaObject* meta = kaTestDerived::getClassMetaSafe();
    const std::vector<std::string> expected = {"_enabled", "_mode",     "_offset", "_count",
                                               "_scale",   "_label",    "_untouched",
                                               "_ranges",  "_note",     "_color",  "_extra"};
    EXPECT_EQ(fieldNames(meta), expected);
    EXPECT_EQ(meta->getFirstOwnField(), 10);
    // The base's field objects are shared with the subclass, and the handles point at them.
    EXPECT_EQ(meta->getIndexedMetaField(3), kaTestSettings::k_count);
    EXPECT_EQ(kaTestSettings::getClassMeta()->findMetaField("_count"), kaTestSettings::k_count);

    size_t classCount = kaMetaObject::getRegisteredClasses().size();
    kaTestDerived::arkRegister();
    kaTestSettings::arkRegister();
    kaArkRegister(&kaTestDerived::arkRegisterInternal);
    EXPECT_EQ(kaMetaObject::getRegisteredClasses().size(), classCount);
    EXPECT_EQ(fieldNames(kaTestDerived::getClassMeta()), expected);
}

TEST(Reflection, NewInstancesHaveDefaultsAndConstructedLists)
{
    kaSmartPointer<kaTestDerived> object = kaSmartPointer<kaTestDerived>::adopt(kaTestDerived::_instantiate());
    EXPECT_EQ(object->getRefCount(), 1);
    EXPECT_TRUE(object->_enabled);
    EXPECT_EQ(object->_mode, kaTestSettings::Fast);
    EXPECT_EQ(object->_offset, -3);
    EXPECT_EQ(object->_count, 7u);
    EXPECT_EQ(object->_scale, 0.5f);
    EXPECT_STREQ(object->_label.c_str(), "");
    EXPECT_EQ(object->_untouched.c_str(), nullptr);
    ASSERT_NE(object->_ranges, nullptr);
    EXPECT_EQ(object->_ranges->getCount(), 0);
    EXPECT_EQ(object->_note, nullptr);
    EXPECT_EQ(object->_color[3], 1.0f);
    EXPECT_EQ(object->_extra, 9u);
    EXPECT_TRUE(object->isOfType(kaTestSettings::getClassMeta()));
    EXPECT_FALSE(object->isOfType(kaStringObj::getClassMetaSafe()));
    EXPECT_EQ(kaTestSettings::dynamicCast(object.get()), object.get());
    EXPECT_EQ(kaStringObj::dynamicCast(object.get()), nullptr);
    EXPECT_EQ(kaStringObj::dynamicCast(static_cast<kaObject*>(nullptr)), nullptr);
}

TEST(Reflection, FieldsSetFromTextAndPrint)
{
    auto object = kaSmartPointer<kaTestSettings>::adopt(kaTestSettings::_instantiate());
    const kaMetaObject* meta = object->getMetaObject();
    std::string error;
    auto set = [&](const char* name, const char* text) {
        error.clear();
        return meta->findMetaField(name)->setFromText(object, text, error);
    };
    EXPECT_TRUE(set("_enabled", "NO"));
    EXPECT_FALSE(object->_enabled);
    EXPECT_TRUE(set("_enabled", "Yes"));
    EXPECT_TRUE(object->_enabled);
    EXPECT_FALSE(set("_enabled", "maybe"));

    EXPECT_TRUE(set("_mode", "Exact"));
    EXPECT_EQ(object->_mode, 4);
    EXPECT_TRUE(set("_mode", "fast"));
    EXPECT_EQ(object->_mode, 1);
    EXPECT_TRUE(set("_mode", "0"));
    EXPECT_EQ(object->_mode, 0);
    EXPECT_FALSE(set("_mode", "2")) << "2 is a number but not a value of the enumeration";
    EXPECT_NE(error.find("Off, Fast, Exact"), std::string::npos) << error;
    EXPECT_EQ(meta->findMetaField("_mode")->toText(object), "Off");

    EXPECT_TRUE(set("_count", "4294967295"));
    EXPECT_EQ(object->_count, 4294967295u);
    EXPECT_FALSE(set("_count", "-1"));
    EXPECT_NE(error.find("negative"), std::string::npos) << error;
    EXPECT_EQ(object->_count, 4294967295u) << "a refused value changes nothing";
    EXPECT_FALSE(set("_count", "4294967296"));
    EXPECT_FALSE(set("_count", "3 apples"));
    EXPECT_TRUE(set("_offset", "-2147483648"));
    EXPECT_FALSE(set("_offset", "1.5"));

    EXPECT_TRUE(set("_scale", "0.1"));
    EXPECT_EQ(object->_scale, 0.1f);
    EXPECT_EQ(meta->findMetaField("_scale")->toText(object), "0.1");
    EXPECT_FALSE(set("_scale", "fast"));

    EXPECT_TRUE(set("_label", "  \"Hero Left\"  "));
    EXPECT_STREQ(object->_label.c_str(), "Hero Left");

    EXPECT_TRUE(set("_ranges", "10, 20.5,40"));
    ASSERT_EQ(object->_ranges->getCount(), 3);
    EXPECT_EQ(object->_ranges->get(1), 20.5f);
    EXPECT_FALSE(set("_ranges", "10, far"));

    // A null reference to a creatable class is created by its text.
    EXPECT_TRUE(set("_note", "\"keep\""));
    ASSERT_NE(object->_note, nullptr);
    EXPECT_STREQ(object->_note->getString(), "keep");

    EXPECT_TRUE(set("_color", "0.5, 0.25, 0, 1"));
    EXPECT_EQ(object->_color[1], 0.25f);
    EXPECT_FALSE(set("_color", "1, 2"));
}

TEST(Reflection, InternedStringsCountEveryHolder)
{
    const char* text = "reflection-test-unique-name";
    kaStringRef a(text);
    EXPECT_EQ(a.getRefCount(), 1);
    {
        kaStringRef b{std::string(text)};
        kaStringRef c = a;
        EXPECT_EQ(a.getRefCount(), 3);
        EXPECT_EQ(b.c_str(), a.c_str()) << "one copy of the text";
        auto node = kaSmartPointer<Lode::Sg::kaNode>::adopt(Lode::Sg::kaNode::_instantiate());
        node->setName(text);
        EXPECT_EQ(a.getRefCount(), 4);
        node->setName(nullptr);
        EXPECT_EQ(node->getName(), nullptr);
        EXPECT_EQ(a.getRefCount(), 3);
    }
    EXPECT_EQ(a.getRefCount(), 1);
    size_t interned = kaStringRef::getInternedCount();
    a = nullptr;
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(a.getRefCount(), 0);
    EXPECT_EQ(kaStringRef::getInternedCount(), interned - 1);
}

TEST(Reflection, StringObjectFileNameOperations)
{
    auto name = kaSmartPointer<kaStringObj>::adopt(kaStringObj::_instantiate());
    EXPECT_STREQ(name->getString(), kaStringObj::EMPTY_STRING);
    name->set("textures/Wall.Diffuse.png");
    name->removePathFromFileName();
    EXPECT_STREQ(name->getString(), "Wall.Diffuse.png");
    name->removeFileExtension();
    EXPECT_STREQ(name->getString(), "Wall.Diffuse");
    name->appendFileExtension("kab");
    EXPECT_STREQ(name->getString(), "Wall.Diffuse.kab");
    name->appendFileExtension(".png");
    EXPECT_STREQ(name->getString(), "Wall.Diffuse.kab.png");
    name->removeFileExtension(2);
    name->insertBefore("out/", 0);
    name->toLower();
    EXPECT_STREQ(name->getString(), "out/wall.diffuse");
    name->keepFileExtension();
    EXPECT_STREQ(name->getString(), ".diffuse");
    name->set("dir.v2/readme");
    name->removeFileExtension();
    EXPECT_STREQ(name->getString(), "dir.v2/readme") << "a dot in a folder name is no extension";
    name->printf("lod%d", 3);
    name->append("/a");
    EXPECT_STREQ(name->getString(), "lod3/a");
    EXPECT_EQ(name->length(), 6);
}

TEST(Reflection, ObjectListsHoldReferencesAndKeepSortedOrder)
{
    long before = kaObject::getLiveObjectCount();
    {
        auto list = kaSmartPointer<kaStringObjList>::adopt(kaStringObjList::_instantiate());
        auto byText = [](const kaStringObj* a, const kaStringObj* b) {
            return std::strcmp(a->getString(), b->getString());
        };
        std::vector<kaSmartPointer<kaStringObj>> strings;
        for (const char* text : {"m", "c", "x", "c", "a"}) {
            strings.push_back(kaSmartPointer<kaStringObj>::adopt(kaStringObj::_instantiate()));
            strings.back()->set(text);
            list->sortedAdd(strings.back(), +byText);
        }
        ASSERT_EQ(list->getCount(), 5);
        EXPECT_EQ(list->toText(), "a, c, c, m, x");
        // Equal entries keep their insertion order.
        EXPECT_EQ(list->getShared(1), strings[1].get());
        EXPECT_EQ(list->getShared(2), strings[3].get());
        EXPECT_EQ(strings[1]->getRefCount(), 2);
        EXPECT_EQ(list->sortedFind(strings[2], +byText), 4);
        auto missing = kaSmartPointer<kaStringObj>::adopt(kaStringObj::_instantiate());
        missing->set("b");
        EXPECT_EQ(list->sortedFind(missing, +byText), -1);

        EXPECT_FALSE(list->appendUnique(strings[0]));
        EXPECT_TRUE(list->appendUnique(missing));
        list->remove(0);
        list->set(0, missing);
        EXPECT_EQ(strings[1]->getRefCount(), 1);
        EXPECT_EQ(missing->getRefCount(), 3);
        list->removeAll();
        EXPECT_EQ(missing->getRefCount(), 1);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), before);
}

TEST(Reflection, ParentListsFollowChildrenWithoutOwningParents)
{
    using namespace Lode::Sg;
    long before = kaObject::getLiveObjectCount();
    {
        auto child = kaSmartPointer<kaNode>::adopt(kaNode::_instantiate());
        {
            auto first = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
            auto second = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
            first->appendChild(child);
            second->appendChild(child);
            ASSERT_EQ(child->getParentCount(), 2);
            EXPECT_EQ(child->getParent(1), second.get());
            EXPECT_EQ(first->getRefCount(), 1) << "a child does not keep its parent alive";
            first->removeChild(child);
            EXPECT_EQ(child->getParentCount(), 1);
            EXPECT_EQ(child->getParent(0), second.get());
        }
        // The second parent is gone; the child must not point at it any more.
        EXPECT_EQ(child->getParentCount(), 0);
        child->setFlag(0x6, true);
        child->setFlag(0x2, false);
        EXPECT_EQ(child->getFlags(), 0x4u);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), before);
}

TEST(Reflection, PluginRegistrationTableRegistersPassesOnce)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    size_t classCount = kaMetaObject::getRegisteredClasses().size();
    Lode::kaOptExtensionLibrary_arkRegister();
    Lode::OptExtension::kaEmpty::arkRegister();
    EXPECT_EQ(kaMetaObject::getRegisteredClasses().size(), classCount);
    kaMetaObject* empty = kaMetaObject::findClass("kaEmpty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty, Lode::OptExtension::kaEmpty::getClassMeta());
    EXPECT_EQ(empty->getBase(), Lode::Opt::kaOptBase::getClassMeta());
    EXPECT_EQ(empty->getMetaFieldCount(), 0);
    EXPECT_EQ(Lode::kaOptExtensionLibrary_initialised, 1);
}

// A member initialiser that differs from the declared default is misleading at best: every
// instance is made through its meta object and gets the declared default anyway.
TEST(Reflection, MemberInitialisersAgreeWithTheDeclaredDefaults)
{
    Lode::Sg::kaRegisterSceneModel();
    kaRegisterFileClasses();
    Lode::kaOptExtensionLibrary_arkRegister();
    int checked = 0;
    for (const kaMetaObject* meta : kaMetaObject::getRegisteredClasses()) {
        if (!meta->canCreateInstance()) continue;
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
