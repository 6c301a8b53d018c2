#include "qel_exception.h"

#include <boost/format.hpp>

#include "qel_inner.h"

namespace qel {

CException::CException(const char* pszSource, int nLine, const char* pszExpression)
    : m_pInner(std::make_unique<Inner>()) {
    m_pInner->_pOwner = this;
    m_pInner->_message =
        (boost::format("%s(%d)\n%s") % (pszSource ? pszSource : "") % nLine % (pszExpression ? pszExpression : ""))
            .str();
}

CException::CException(const CException& other) : m_pInner(detail::CopyInner(other.m_pInner, this)) {}

CException& CException::operator=(const CException& other) {
    m_pInner = detail::CopyInner(other.m_pInner, this);
    return *this;
}

CException::CException(CException&& other) noexcept : m_pInner(detail::TakeInner(other.m_pInner, this)) {}

CException& CException::operator=(CException&& other) noexcept {
    m_pInner = detail::TakeInner(other.m_pInner, this);
    return *this;
}

CException::~CException() = default;

const char* CException::Message() const noexcept {
    return m_pInner ? m_pInner->_message.c_str() : "";
}

}  // namespace qel
