// SPDX-License-Identifier: GPL-3.0-or-later
// Tarvik window background: a silver satellite receiver on a white studio sweep.
// Units are centimetres; the receiver's front panel faces -z, its floor is y = 0.
// Rendered by build-art.sh at 492 x 422.

#version 3.7;

#include "shapes.inc"

global_settings {
  assumed_gamma 1.0
  max_trace_level 5
  adc_bailout 0.01
  radiosity {
    pretrace_start 0.08
    pretrace_end 0.01
    count 120
    nearest_count 10
    error_bound 0.6
    recursion_limit 1
    low_error_factor 0.5
    gray_threshold 0.0
    minimum_reuse 0.015
    brightness 1.0
    adc_bailout 0.01 / 2
    always_sample off
  }
}

// ---------------------------------------------------------------- camera

camera {
  perspective
  location <-20, 31, -76>
  look_at <0.8, 2.2, 7.0>
  right x * 492 / 422
  angle 30
}

// Plain light studio: everything the metal reflects is soft and bright.
background { rgb <0.30, 0.31, 0.33> }

// ---------------------------------------------------------------- lights

// Key: a large soft box up front on the left.
light_source {
  <-85, 80, -18>
  color rgb <1.0, 0.98, 0.95> * 0.85
  area_light <36, 0, 0>, <0, 0, 36>, 5, 5
  adaptive 1
  circular
  orient
}

// Fill from the right, soft and weak.
light_source {
  <90, 55, -40>
  color rgb <0.92, 0.95, 1.0> * 0.2
  area_light <30, 0, 0>, <0, 0, 30>, 5, 5
  adaptive 1
  circular
  orient
}

// Top light from above and behind: lifts the backdrop and gives the cover a sheen.
light_source {
  <15, 70, 75>
  color rgb <1.0, 1.0, 1.0> * 0.3
  area_light <40, 0, 0>, <0, 0, 30>, 5, 5
  adaptive 1
  circular
  orient
}

// Bright panels that only the reflections see: they draw the long highlights
// on the cover and the front panel.
#declare Softbox = box {
  <-1, -0.5, -1>, <1, 0.5, 1>
  texture { pigment { rgb 1 } finish { emission 2.4 diffuse 0 } }
  no_image
  no_shadow
}
object { Softbox scale <60, 1, 26> rotate x * -12 translate <-10, 80, -15> }
object { Softbox scale <14, 30, 40> rotate z * 20 translate <110, 40, -30> }
object { Softbox scale <30, 20, 1> translate <-20, 30, -110> }

// ---------------------------------------------------------------- studio sweep

#declare Sweep_Tex = texture {
  pigment { rgb <0.60, 0.605, 0.615> }
  finish {
    ambient 0
    diffuse 0.85
    specular 0.25
    roughness 0.02
    reflection { 0.05, 0.16 falloff 2 }
  }
}

union {
  // floor, a curved cove and the back wall, as one solid
  plane { y, 0 }
  difference {
    box { <-400, -1, 70>, <400, 50, 130> }
    cylinder { <-401, 50, 70>, <401, 50, 70>, 50 }
  }
  plane { -z, -120 }
  texture { Sweep_Tex }
  interior { ior 1.45 }
}

// ---------------------------------------------------------------- materials

// brushed aluminium of the cover
#declare Cover_Tex = texture {
  pigment { rgb <0.50, 0.51, 0.53> }
  finish {
    ambient 0
    diffuse 0.38
    brilliance 2.2
    specular 0.8
    roughness 0.02
    metallic 0.8
    reflection { 0.38 metallic 0.7 }
  }
}

// silver lacquered front panel, a touch brighter than the cover
#declare Bezel_Tex = texture {
  pigment { rgb <0.55, 0.56, 0.58> }
  finish {
    ambient 0
    diffuse 0.5
    brilliance 1.6
    specular 0.8
    roughness 0.006
    metallic 0.4
    reflection { 0.16 metallic 0.4 }
  }
}

#declare Dark_Plastic_Tex = texture {
  pigment { rgb 0.035 }
  finish { ambient 0 diffuse 0.5 specular 0.6 roughness 0.008 reflection 0.06 }
}

#declare Rubber_Tex = texture {
  pigment { rgb 0.02 }
  finish { ambient 0 diffuse 0.6 specular 0.1 roughness 0.08 }
}

#declare Print_Tex = texture {
  pigment { rgb <0.16, 0.165, 0.17> }
  finish { ambient 0 diffuse 0.6 specular 0.2 roughness 0.02 }
}

// ---------------------------------------------------------------- receiver dimensions

#declare W  = 30;    // width
#declare D  = 22;    // depth of the chassis behind the front panel
#declare H0 = 0.7;   // height of the chassis floor above the table (feet)
#declare H  = 5.4;   // height of the chassis
#declare FZ = 1.1;   // thickness of the front panel

// ---------------------------------------------------------------- chassis

// The cover is one bent sheet: top and both sides, with rounded bends.
#declare Slot = box { <-0.12, -1, -1.6>, <0.12, 1, 1.6> }

#declare Top_Vents = union {
  #declare I = 0;
  #while (I < 22)
    object { Slot translate <-7.35 + I * 0.7, H0 + H, 14.5> }
    #declare I = I + 1;
  #end
}

#declare Side_Slot = box { <-1, -0.11, -1.5>, <1, 0.11, 1.5> }
#declare Side_Vents = union {
  #declare I = 0;
  #while (I < 4)
    object { Side_Slot translate <-W / 2, H0 + 1.5 + I * 0.8, 12.5> }
    object { Side_Slot translate <-W / 2, H0 + 1.5 + I * 0.8, 16.5> }
    #declare I = I + 1;
  #end
}

#declare Chassis = difference {
  object { Round_Box(<-W / 2, H0, 0>, <W / 2, H0 + H, D>, 0.45, no) }
  object { Top_Vents }
  object { Side_Vents }
  texture { Cover_Tex }
}

// dark interior seen through the vents
#declare Chassis_Inside = box {
  <-W / 2 + 0.2, H0 + 0.2, 0.5>, <W / 2 - 0.2, H0 + H - 0.25, D - 0.3>
  texture { pigment { rgb 0.03 } finish { ambient 0 diffuse 0.4 } }
}

#declare Feet = union {
  #declare FX = -1;
  #while (FX <= 1)
    #declare FZZ = -1;
    #while (FZZ <= 1)
      cylinder { <FX * (W / 2 - 2.2), 0, D / 2 + FZZ * (D / 2 - 2.4)>,
                 <FX * (W / 2 - 2.2), H0 + 0.1, D / 2 + FZZ * (D / 2 - 2.4)>, 1.0 }
      #declare FZZ = FZZ + 2;
    #end
    #declare FX = FX + 2;
  #end
  texture { Rubber_Tex }
}

// ---------------------------------------------------------------- front panel

// panel face lies at z = -FZ; the panel covers the chassis front and a little more
#declare PX0 = -W / 2 - 0.1;
#declare PX1 =  W / 2 + 0.1;
#declare PY0 = H0 - 0.05;
#declare PY1 = H0 + H + 0.05;

// display window
#declare DX0 = -2.6;
#declare DX1 =  3.2;
#declare DY0 = H0 + 1.7;
#declare DY1 = H0 + 3.75;

// smart card slot
#declare CX0 = -13.3;
#declare CX1 = -6.3;
#declare CY  = H0 + 1.75;

#declare Panel_Body = difference {
  object { Round_Box(<PX0, PY0, -FZ>, <PX1, PY1, 0.8>, 0.55, no) }
  // display opening
  box { <DX0, DY0, -FZ - 1>, <DX1, DY1, 0.2> }
  // card slot recess, a shallow pocket with the slot in it
  object { Round_Box(<CX0 - 0.35, CY - 0.55, -FZ - 1>, <CX1 + 0.35, CY + 0.55, -FZ + 0.25>, 0.2, no) }
  // the thin line that parts the panel's lower lip from its face
  box { <PX0 - 1, H0 + 0.55, -FZ - 1>, <PX1 + 1, H0 + 0.6, -FZ + 0.05> }
  texture { Bezel_Tex }
}

// a dark flap set into the pocket, with the slot cut through it
#declare Card_Slot = union {
  difference {
    object { Round_Box(<CX0 - 0.3, CY - 0.5, -FZ + 0.1>, <CX1 + 0.3, CY + 0.5, -FZ + 0.4>, 0.12, no) }
    box { <CX0, CY - 0.075, -FZ>, <CX1, CY + 0.075, 0> }
    texture { Dark_Plastic_Tex }
  }
  box { <CX0, CY - 0.075, -FZ + 0.7>, <CX1, CY + 0.075, -FZ + 0.75> texture { pigment { rgb 0.0 } finish { ambient 0 diffuse 0 } } }
}

// ---------------------------------------------------------------- display

#declare VFD_On = texture {
  pigment { rgb <0.22, 1.0, 0.66> }
  finish { ambient 0 diffuse 0 emission 2.2 }
}
#declare VFD_Off = texture {
  pigment { rgb <0.05, 0.12, 0.10> }
  finish { ambient 0 diffuse 0 emission 0.12 }
}

// One seven-segment digit, 0.95 wide and 1.6 high, its lower left corner at the origin.
// Segments a..g as in the usual naming; Seg is a string of seven 0/1 flags.
#macro Segment(P0, P1, Lit)
  box { P0, P1 texture { #if (Lit) VFD_On #else VFD_Off #end } }
#end

#macro Digit(Seg)
  #local T = 0.16;
  #local G = 0.04;
  union {
    Segment(<T + G, 1.6 - T, 0>, <0.95 - T - G, 1.6, 0.01>, (substr(Seg, 1, 1) = "1"))
    Segment(<0.95 - T, 0.8 + G, 0>, <0.95, 1.6 - T - G, 0.01>, (substr(Seg, 2, 1) = "1"))
    Segment(<0.95 - T, T + G, 0>, <0.95, 0.8 - G, 0.01>, (substr(Seg, 3, 1) = "1"))
    Segment(<T + G, 0, 0>, <0.95 - T - G, T, 0.01>, (substr(Seg, 4, 1) = "1"))
    Segment(<0, T + G, 0>, <T, 0.8 - G, 0.01>, (substr(Seg, 5, 1) = "1"))
    Segment(<0, 0.8 + G, 0>, <T, 1.6 - T - G, 0.01>, (substr(Seg, 6, 1) = "1"))
    Segment(<T + G, 0.8 - T / 2, 0>, <0.95 - T - G, 0.8 + T / 2, 0.01>, (substr(Seg, 7, 1) = "1"))
    // a slight forward slant, as on most receiver displays
    matrix < 1, 0, 0,  0.12, 1, 0,  0, 0, 1,  0, 0, 0 >
  }
#end

#declare Digit_0 = "1111110";
#declare Digit_1 = "0110000";
#declare Digit_2 = "1101101";
#declare Digit_4 = "0110011";

#declare Display = union {
  // smoked window
  box {
    <DX0 - 0.02, DY0 - 0.02, -FZ + 0.05>, <DX1 + 0.02, DY1 + 0.02, -FZ + 0.13>
    pigment { rgbf <0.40, 0.46, 0.44, 0.80> }
    finish { ambient 0 diffuse 0.05 specular 0.9 roughness 0.002 reflection { 0.06, 0.4 fresnel on } }
    interior { ior 1.5 }
  }
  // black well behind the window
  box {
    <DX0, DY0, -FZ + 0.9>, <DX1, DY1, -FZ + 1.0>
    texture { pigment { rgb 0.025 } finish { ambient 0 diffuse 0.4 } }
  }
  // four digits with a status mark
  union {
    object { Digit(Digit_1) translate <0.0, 0, 0> }
    object { Digit(Digit_0) translate <1.3, 0, 0> }
    object { Digit(Digit_2) translate <2.6, 0, 0> }
    object { Digit(Digit_4) translate <3.9, 0, 0> }
    // a small lit dot at the right, as a "signal" mark
    box { <5.15, 1.35, 0>, <5.4, 1.6, 0.01> texture { VFD_On } }
    box { <5.15, 0.95, 0>, <5.4, 1.2, 0.01> texture { VFD_Off } }
    scale 0.85
    translate <DX0 + 0.55, DY0 + 0.35, -FZ + 0.85>
  }
}

// ---------------------------------------------------------------- buttons and lamp

#declare Button_Tex = texture {
  pigment { rgb <0.74, 0.75, 0.77> }
  finish {
    ambient 0
    diffuse 0.5
    specular 0.9
    roughness 0.004
    metallic 0.6
    reflection { 0.3 metallic 0.6 }
  }
}

#macro Round_Button(X, Y, R)
  union {
    // collar set into the panel
    difference {
      cylinder { <X, Y, -FZ - 0.05>, <X, Y, -FZ + 0.2>, R + 0.16 }
      cylinder { <X, Y, -FZ - 0.1>, <X, Y, -FZ + 0.3>, R + 0.04 }
      texture { Dark_Plastic_Tex }
    }
    // domed cap
    intersection {
      sphere { <X, Y, -FZ + 2.2>, 2.45 }
      cylinder { <X, Y, -FZ - 0.5>, <X, Y, -FZ + 0.3>, R }
      texture { Button_Tex }
    }
  }
#end

#declare Buttons = union {
  // menu, ok and the two channel keys
  Round_Button(7.6,  H0 + 2.7, 0.42)
  Round_Button(9.25, H0 + 2.7, 0.42)
  Round_Button(10.9, H0 + 2.7, 0.42)
  Round_Button(12.55, H0 + 2.7, 0.42)
  // standby key, larger, at the far left
  Round_Button(-12.9, H0 + 3.55, 0.5)
}

// standby lamp: a small red dome next to the display
#declare Lamp = union {
  sphere {
    <4.3, H0 + 3.45, -FZ>, 0.13
    texture { pigment { rgb <1.0, 0.12, 0.05> } finish { ambient 0 diffuse 0.3 emission 1.4 specular 0.8 roughness 0.003 } }
  }
}

// ---------------------------------------------------------------- printing on the panel

// Screen-printed lettering; three copies side by side give the strokes some weight.
#macro Panel_Text(Str, X, Y, S)
  union {
    #local K = 0;
    #while (K < 3)
      text { ttf "cyrvetic.ttf" Str 0.02, 0 scale S translate <X + K * 0.022, Y, -FZ - 0.012> }
      #local K = K + 1;
    #end
    texture { Print_Tex }
  }
#end

#declare Printing = union {
  Panel_Text("DIGITAL RECEIVER", -11.9, H0 + 3.36, 0.46)
  Panel_Text("MENU", 7.6 - 0.38, H0 + 1.8, 0.24)
  Panel_Text("OK", 9.25 - 0.18, H0 + 1.8, 0.24)
  Panel_Text("CH -", 10.9 - 0.28, H0 + 1.8, 0.24)
  Panel_Text("CH +", 12.55 - 0.3, H0 + 1.8, 0.24)
  Panel_Text("STANDBY", 3.95, H0 + 3.85, 0.2)
}

// ---------------------------------------------------------------- the receiver

#declare Receiver = union {
  object { Chassis }
  object { Chassis_Inside }
  object { Feet }
  object { Panel_Body }
  object { Card_Slot }
  object { Display }
  object { Buttons }
  object { Lamp }
  object { Printing }
}

object { Receiver rotate y * -4 translate <0, 0, 0> }
