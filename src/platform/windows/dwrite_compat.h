#pragma once
// DirectWrite's overloaded font-set methods under the Windows SDK's names. mingw-w64's headers
// (generated from Wine's IDL) give the overloads distinct names with trailing underscores, and a
// derived interface that declares one overload hides the base interface's others; these
// forwarders let the backend call every overload by its documented name on either header set.

#include <dwrite_3.h>

namespace kfp::windows_backend::sdk {

#if defined(__MINGW32__)

// IDWriteFontSet::GetMatchingFonts, family form.
inline HRESULT GetMatchingFonts(IDWriteFontSet* set, const WCHAR* familyName,
                                DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STRETCH stretch,
                                DWRITE_FONT_STYLE style, IDWriteFontSet** filteredSet) {
  return set->GetMatchingFonts_(familyName, weight, stretch, style, filteredSet);
}

// IDWriteFontSet1::GetFilteredFonts, indices form.
inline HRESULT GetFilteredFonts(IDWriteFontSet1* set, const UINT32* indices, UINT32 indexCount,
                                IDWriteFontSet1** filteredSet) {
  return set->GetFilteredFonts__(indices, indexCount, filteredSet);
}

// IDWriteFontSet1::GetFontAxisRanges, one font's form.
inline HRESULT GetFontAxisRanges(IDWriteFontSet1* set, UINT32 listIndex,
                                 DWRITE_FONT_AXIS_RANGE* ranges, UINT32 maxCount, UINT32* count) {
  return set->GetFontAxisRanges_(listIndex, ranges, maxCount, count);
}

#else

inline HRESULT GetMatchingFonts(IDWriteFontSet* set, const WCHAR* familyName,
                                DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STRETCH stretch,
                                DWRITE_FONT_STYLE style, IDWriteFontSet** filteredSet) {
  return set->GetMatchingFonts(familyName, weight, stretch, style, filteredSet);
}

inline HRESULT GetFilteredFonts(IDWriteFontSet1* set, const UINT32* indices, UINT32 indexCount,
                                IDWriteFontSet1** filteredSet) {
  return set->GetFilteredFonts(indices, indexCount, filteredSet);
}

inline HRESULT GetFontAxisRanges(IDWriteFontSet1* set, UINT32 listIndex,
                                 DWRITE_FONT_AXIS_RANGE* ranges, UINT32 maxCount, UINT32* count) {
  return set->GetFontAxisRanges(listIndex, ranges, maxCount, count);
}

#endif

// IDWriteFontSet::GetMatchingFonts, properties form: the version-1 interface's own overload hides
// it, so it is always called through the base.
inline HRESULT GetMatchingFonts(IDWriteFontSet* set, const DWRITE_FONT_PROPERTY* properties,
                                UINT32 propertyCount, IDWriteFontSet** filteredSet) {
  return set->GetMatchingFonts(properties, propertyCount, filteredSet);
}

// IDWriteFontSet1::GetMatchingFonts, property and axis values.
inline HRESULT GetMatchingFonts(IDWriteFontSet1* set, const DWRITE_FONT_PROPERTY* property,
                                const DWRITE_FONT_AXIS_VALUE* axisValues, UINT32 axisValueCount,
                                IDWriteFontSet1** matchingFonts) {
  return set->GetMatchingFonts(property, axisValues, axisValueCount, matchingFonts);
}

// IDWriteFontSet::GetPropertyValues, list-index form.
inline HRESULT GetPropertyValues(IDWriteFontSet* set, UINT32 listIndex,
                                 DWRITE_FONT_PROPERTY_ID propertyId, BOOL* exists,
                                 IDWriteLocalizedStrings** values) {
  return set->GetPropertyValues(listIndex, propertyId, exists, values);
}

// IDWriteFontCollection::GetFontFamily: the version-1 collection's overload, which yields a
// version-1 family, hides it.
inline HRESULT GetFontFamily(IDWriteFontCollection* collection, UINT32 index,
                             IDWriteFontFamily** fontFamily) {
  return collection->GetFontFamily(index, fontFamily);
}

}  // namespace kfp::windows_backend::sdk
