#include "gui/kel_keys.h"

u8 kel_lang()
{
    const u8 lang = g_language;
    if (lang == KEL_LANG_EN || lang > KEL_LANG_TN)
        return KEL_LANG_EN;
    if ((g_lcd_lang_valid & (1 << lang)) == 0)
        return KEL_LANG_EN;
    return lang;
}

QString kel_text(const char* zh, const char* en, const char* ru, const char* vn, const char* tn)
{
    const char* text = en;
    switch (kel_lang()) {
    case KEL_LANG_ZH: text = zh; break;
    case KEL_LANG_RU: text = ru; break;
    case KEL_LANG_VN: text = vn; break;
    case KEL_LANG_TN: text = tn; break;
    default: break;
    }
    // A soft hyphen marks where a word may break; the panel's texts never break inside a
    // word, and some fonts draw the mark anyway.
    return QString::fromUtf8(text).remove(QChar(0x00AD));
}

QString kel_icon_prefix()
{
    switch (kel_lang()) {
    case KEL_LANG_ZH:
        return QString();
    case KEL_LANG_RU:
        return QStringLiteral("ru_");
    case KEL_LANG_VN:
        return QStringLiteral("vn_");
    case KEL_LANG_TN:
        return QStringLiteral("tn_");
    default:
        return QStringLiteral("en_");
    }
}

QString kel_icon(const QString& name)
{
    kel_icons_init();
    return QStringLiteral(":/png/") + kel_icon_prefix() + name + QStringLiteral(".png");
}

QString kel_icon_plain(const QString& name)
{
    kel_icons_init();
    return QStringLiteral(":/png/") + name + QStringLiteral(".png");
}

// The icons are compiled into this library as a resource; in a static library nothing else
// references that object file, so the registration is pulled in from here.
static void init_icon_resource()
{
#ifdef KEL_HAVE_ICONS
    Q_INIT_RESOURCE(kel_icons);
#endif
}

void kel_icons_init()
{
    static const bool done = [] {
        init_icon_resource();
        return true;
    }();
    (void)done;
}
