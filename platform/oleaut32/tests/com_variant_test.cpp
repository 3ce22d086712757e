#include <platform/safearray.h>
#include <platform/variant.h>

#include <gtest/gtest.h>

#include <string>

#include "com_test_objects.h"

namespace {

std::u16string text_of(BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : u"<null>"; }

class ComVariant : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(g_liveTestObjects, 0); }
};

TEST_F(ComVariant, VectorRoundTripWithItsBounds) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I2, 5, 3);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->cDims, 1);
    EXPECT_EQ(psa->cbElements, 2u);
    LONG lower = 0, upper = 0;
    ASSERT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
    EXPECT_EQ(lower, 5);
    EXPECT_EQ(upper, 7);
    EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa, 0, &upper), DISP_E_BADINDEX);

    for (LONG i = lower; i <= upper; ++i) {
        SHORT value = static_cast<SHORT>(-100 * i);
        ASSERT_EQ(SafeArrayPutElement(psa, &i, &value), S_OK);
    }
    for (LONG bad : {4, 8}) {
        SHORT value = 0;
        EXPECT_EQ(SafeArrayGetElement(psa, &bad, &value), DISP_E_BADINDEX) << bad;
        EXPECT_EQ(SafeArrayPutElement(psa, &bad, &value), DISP_E_BADINDEX) << bad;
    }
    LONG last = 7;
    SHORT got = 0;
    ASSERT_EQ(SafeArrayGetElement(psa, &last, &got), S_OK);
    EXPECT_EQ(got, -700);

    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    const auto* values = static_cast<const SHORT*>(data);
    EXPECT_EQ(values[0], -500);
    EXPECT_EQ(values[2], -700);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

    SAFEARRAY* empty = SafeArrayCreateVector(VT_I2, 0, 0);
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
    EXPECT_EQ(upper, -1);
    EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
}

TEST_F(ComVariant, ArraysOwnTheirStringsAndReferences) {
    SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(names, nullptr);
    LONG i = 0;
    for (const char16_t* text : {u"\"MPIO Disk0\"", u"replaced"}) {
        BSTR mine = SysAllocString(text);
        ASSERT_EQ(SafeArrayPutElement(names, &i, mine), S_OK);  // the string itself, copied; the old copy freed
        SysFreeString(mine);
    }
    BSTR got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(names, &i, &got), S_OK);
    EXPECT_EQ(text_of(got), u"replaced");
    SysFreeString(got);
    i = 1;
    ASSERT_EQ(SafeArrayGetElement(names, &i, &got), S_OK);
    EXPECT_EQ(got, nullptr);  // never set

    SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
    auto* object = new TestCounter;
    for (LONG k : {0, 1}) ASSERT_EQ(SafeArrayPutElement(objects, &k, static_cast<IUnknown*>(object)), S_OK);
    EXPECT_EQ(object->Release(), 2u);

    // A VARIANT holding an array: copied deeply, cleared completely.
    VARIANT v, copy;
    VariantInit(&v);
    VariantInit(&copy);
    v.vt = VT_ARRAY | VT_UNKNOWN;
    v.parray = objects;
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(copy.parray, objects);
    EXPECT_EQ(object->AddRef(), 5u);
    object->Release();
    IUnknown* element = nullptr;
    LONG first = 0;
    ASSERT_EQ(SafeArrayGetElement(copy.parray, &first, &element), S_OK);
    EXPECT_EQ(element, static_cast<IUnknown*>(object));
    element->Release();
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(SafeArrayDestroy(names), S_OK);
}

TEST_F(ComVariant, CopyAndClearFollowTheType) {
    VARIANT text, copy;
    VariantInit(&text);
    VariantInit(&copy);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"12345678901234");
    ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
    EXPECT_NE(copy.bstrVal, text.bstrVal);
    EXPECT_EQ(text_of(copy.bstrVal), u"12345678901234");

    // Copying over a variant frees what it held; by-reference values are shared.
    SHORT target = 3;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I2;
    ref.piVal = &target;
    ASSERT_EQ(VariantCopy(&copy, &ref), S_OK);
    EXPECT_EQ(copy.piVal, &target);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(target, 3);

    VARIANT weird;
    VariantInit(&weird);
    weird.vt = VT_DECIMAL;
    EXPECT_EQ(VariantCopy(&copy, &weird), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantClear(&weird), DISP_E_BADVARTYPE);
    EXPECT_EQ(weird.vt, VT_DECIMAL);

    auto* object = new TestCounter;
    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = object;  // the variant owns the creator's reference
    ASSERT_EQ(VariantCopy(&copy, &unknown), S_OK);
    EXPECT_EQ(VariantClear(&unknown), S_OK);
    EXPECT_EQ(g_liveTestObjects, 1);
    EXPECT_EQ(VariantClear(&copy), S_OK);

    VARIANT flag;
    VariantInit(&flag);
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    ASSERT_EQ(VariantCopy(&copy, &flag), S_OK);
    EXPECT_EQ(copy.boolVal, -1);
    EXPECT_EQ(VariantClear(&text), S_OK);
}

TEST_F(ComVariant, TwoDimensionsKeepTheirOrder) {
    SAFEARRAYBOUND bounds[] = {{2, 0}, {3, 10}};  // dimension 1: 0..1, dimension 2: 10..12
    SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->rgsabound[0].lLbound, 10);  // kept in reverse order
    LONG lower = 0, upper = 0;
    ASSERT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
    ASSERT_EQ(SafeArrayGetLBound(psa, 2, &lower), S_OK);
    EXPECT_EQ(upper, 1);
    EXPECT_EQ(lower, 10);
    for (LONG d2 = 10; d2 <= 12; ++d2)
        for (LONG d1 = 0; d1 <= 1; ++d1) {
            LONG index[] = {d2, d1};
            LONG value = d2 * 10 + d1;
            ASSERT_EQ(SafeArrayPutElement(psa, index, &value), S_OK);
        }
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    const auto* values = static_cast<const LONG*>(data);
    const LONG expected[] = {100, 101, 110, 111, 120, 121};  // dimension 1 varies fastest
    for (int k = 0; k < 6; ++k) EXPECT_EQ(values[k], expected[k]) << k;
    SafeArrayUnaccessData(psa);
    LONG outside[] = {13, 0};
    LONG value = 0;
    EXPECT_EQ(SafeArrayGetElement(psa, outside, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(ComVariant, VariantElementsAreCopiedAndCleared) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT in;
    VariantInit(&in);
    in.vt = VT_BSTR;
    in.bstrVal = SysAllocString(u"18446744073709551615");
    LONG i = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &i, &in), S_OK);
    VariantClear(&in);
    VARIANT out;
    ASSERT_EQ(SafeArrayGetElement(psa, &i, &out), S_OK);
    EXPECT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(text_of(out.bstrVal), u"18446744073709551615");
    VariantClear(&out);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

}  // namespace
