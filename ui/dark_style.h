#pragma once
// The dark skin, drawn in code: a proxy style over Fusion and a palette, set once on the
// application. Controls choose their look by kind and by their "class" property (the layout's
// class attribute); a control's own background colour and image ("bkcolor", "bkimage") travel
// as the widget properties below and are drawn under its look.

class QApplication;
class QPainter;
class QWidget;

namespace brevak {

// 0xAARRGGBB of a control's own background colour; absent or 0: none.
inline constexpr char kBkColorProperty[] = "dui_bkcolor";
// Full path of a control's own background image, stretched over the widget; empty: none.
inline constexpr char kBkImageProperty[] = "dui_bkimage";

// Sets the style, palette and font on `app`; once is enough (later calls do nothing).
void InstallDarkSkin(QApplication* app);
// Whether the application draws the dark skin (else a control paints its own background colour
// and image itself, over whatever a style sheet of the layout drew).
bool DarkSkinInstalled();
// Paints `w`'s own background colour and image (the properties above) over its whole rectangle;
// for controls under a layout's own style sheet, which does not draw them.
void PaintOwnBackground(QPainter* p, const QWidget* w);

}  // namespace brevak
