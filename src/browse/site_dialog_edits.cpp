// SPDX-License-Identifier: MIT
// The site dialog's guard of the user's typing: what Add and Update need, and the question before a
// click in the list throws typed edits away.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QStringList>

#include "browse/site_dialog.h"
#include "widgets/tiled_list_ctrl.h"

namespace bw::browse {

QString siteProtocolText(const SiteOptions &options)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("bw::browse::CSiteDialog", text);
    };
    if (options.protocol == SiteProtocol::Sftp)
        return tr("SFTP");
    switch (options.tls) {
    case SiteTls::Explicit:
        return tr("FTP, explicit TLS");
    case SiteTls::Implicit:
        return tr("FTP, implicit TLS");
    case SiteTls::None:
        break;
    }
    return tr("FTP");
}

CSiteDialog::ControlTexts CSiteDialog::controlTexts() const
{
    return {m_name->text(), m_address->text(), m_port->text(), m_user->text(), m_password->text(),
        m_tls->currentIndex(), m_protocol->currentIndex(), m_anonymous->isChecked()};
}

void CSiteDialog::markShown(int row)
{
    m_shownTexts = controlTexts();
    m_shownRow = row;
}

bool CSiteDialog::checkRequiredFields()
{
    QStringList problems;
    QLineEdit *first = nullptr;
    const auto require = [&](QLineEdit *edit, bool present, const QString &problem) {
        if (present)
            return;
        problems << problem;
        if (!first)
            first = edit;
    };
    require(m_name, !m_fields.name.trimmed().isEmpty(), tr("Enter a name for the site."));
    require(m_address, !m_fields.address.trimmed().isEmpty(), tr("Enter the site's address."));
    require(m_user, m_fields.anonymous || !m_fields.user.trimmed().isEmpty(),
        tr("Enter the user name, or tick Anonymous."));
    if (!first)
        return true;
    m_rangeReporter(this, problems.join(u'\n'));
    first->setFocus();
    return false;
}

bool CSiteDialog::onListClicked()
{
    const int selected = m_list->firstSelectedRow();
    const int row = selected >= 0 && static_cast<std::size_t>(selected) < m_sites.count() ? selected : -1;
    if (hasUnsavedEdits()) {
        // A click on the row being edited keeps the typing.
        if (row == m_shownRow)
            return true;
        const QString text = m_shownRow >= 0
            ? tr("Discard the changes typed for \"%1\"?").arg(m_list->itemText(m_shownRow, 0))
            : tr("Discard the site typed but not added?");
        if (!m_discardConfirmer(this, text)) {
            if (m_shownRow >= 0)
                m_list->selectRow(m_shownRow);
            else
                m_list->clearSelection();
            return false;
        }
    }
    showSelectedSite();
    return true;
}

} // namespace bw::browse
