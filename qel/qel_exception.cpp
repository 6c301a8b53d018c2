#include "qel_exception.h"

#include <boost/format.hpp>

namespace qel {

CException::CException(const char* pszSource, int nLine, const char* pszExpression)
    : m_pInner(std::make_unique<Inner>()) {
    m_pInner->_pOwner = this;
    m_pInner->_message =
        (boost::format("%s(%d)\n%s") % (pszSource ? pszSource : "") % nLine % (pszExpression ? pszExpression : ""))
            .str();
}

CException::CException(const CException& other)
    : m_pInner(std::make_unique<Inner>(Inner{this, other.m_pInner ? other.m_pInner->_message : std::string()})) {}

CException& CException::operator=(const CException& other) {
    if (this != &other) {
        m_pInner = std::make_unique<Inner>(Inner{this, other.m_pInner ? other.m_pInner->_message : std::string()});
    }
    return *this;
}

CException::CException(CException&& other) noexcept : m_pInner(std::move(other.m_pInner)) {
    if (m_pInner)
        m_pInner->_pOwner = this;
}

CException& CException::operator=(CException&& other) noexcept {
    m_pInner = std::move(other.m_pInner);
    if (m_pInner)
        m_pInner->_pOwner = this;
    return *this;
}

CException::~CException() = default;

const char* CException::Message() const noexcept { return m_pInner ? m_pInner->_message.c_str() : ""; }

}  // namespace qel
