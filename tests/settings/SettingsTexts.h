// Expected document texts and key lists, written out by hand so that the tests do not derive them
// from the settings table they check.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace quarvel {

// A normalised new document: the 36 settings in canonical order with their defaults.
inline const std::string kCanonicalDefaultsText
    = "DynamicEnable=1;\nColorEnable=1;\nSharpEnable=1;\nSmoothEnable=1;\n"
      "ShadowLevel=0;\nShadowContrast=150;\nShadowAmount=0;\nShadowClip=0.00000000;\n"
      "HilightLevel=0;\nHilightContrast=150;\nHilightAmount=0;\nHilightClip=0.00000000;\n"
      "AutoColor=0;\nAutoExposure=0;\nGamma=0;\nDensity=0;\nSaturation=0;\nContrast=0;\nMonochromatic=1;\n"
      "HiSharpAmount=0;\nHiSharpRadius=1.00000000;\nHiSharpEdge=20;\nHiSharpThreshold=0;\nHiSharpTonal=170;\n"
      "ShSharpAmount=0;\nShSharpRadius=1.00000000;\nShSharpEdge=20;\nShSharpThreshold=0;\nShSharpTonal=85;\n"
      "SmoothAmount=0;\nSmoothRadius=1.00000000;\nSmoothThreshold=0;\n"
      "DiffuseAmount=0;\nDiffuseRadius=5.00000000;\nDiffuseTone=0;\nGrainAmount=0;\n";

// The defaults text with entries replaced, each {from, to} at its first place.
inline std::string defaultsWith(std::initializer_list<std::pair<const char*, const char*>> changes)
{
    std::string text = kCanonicalDefaultsText;
    for (const auto& [from, to] : changes)
        text.replace(text.find(from), std::char_traits<char>::length(from), to);
    return text;
}

// The 36 settings' keys and names in the order the plug-in asks a descriptor for them.
inline const std::vector<std::string> kDescriptorKeysAndNames = { "EnDr DynamicEnable", "EnCr ColorEnable",
    "EnSh SharpEnable", "EnDf SmoothEnable", "ShLv ShadowLevel", "ShDt ShadowAmount", "ShCl ShadowClip",
    "ShCt ShadowContrast", "HiLv HilightLevel", "HiDt HilightAmount", "HiCl HilightClip",
    "HiCt HilightContrast", "AtEx AutoExposure", "Gmma Gamma", "Cont Contrast", "Mono Monochromatic",
    "AtCr AutoColor", "Dens Density", "Satu Saturation", "HSAm HiSharpAmount", "HSRd HiSharpRadius",
    "HSEd HiSharpEdge", "HSTs HiSharpThreshold", "HSTn HiSharpTonal", "SSAm ShSharpAmount",
    "SSRd ShSharpRadius", "SSEd ShSharpEdge", "SSTs ShSharpThreshold", "SSTn ShSharpTonal",
    "SmAm SmoothAmount", "SmRd SmoothRadius", "SmTr SmoothThreshold", "DfAm DiffuseAmount",
    "DfRd DiffuseRadius", "DfTn DiffuseTone", "GnAm GrainAmount" };

} // namespace quarvel
