// The few application-framework base classes the serial component is built on: an object with
// a virtual destructor, a component that destroys the components it owns, a persistent object
// with Assign, and the one exception type that carries a message.
//
// Not thread-safe: components are created, owned and destroyed on one thread (the main thread).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

class TObject {
  public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject();
};

// The general exception: a message, nothing else.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A component is created with an owner (nullptr: none) and registers itself there; the owner
// destroys every component it still owns when it is destroyed, the most recent first. A
// component destroyed earlier by other means removes itself from its owner.
class TComponent : public TObject {
  public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    size_t ComponentCount() const { return components_.size(); }

  private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    TComponent* owner_;
    std::vector<TComponent*> components_;
};

// An object whose state can be copied from another with Assign. The default Assign asks the
// source to copy itself into this object (AssignTo); when neither side knows the other, it
// raises Exception("Cannot assign a nil to a <class>" / "Cannot assign a <class> to a <class>").
class TPersistent : public TObject {
  public:
    virtual void Assign(const TPersistent* source);
    virtual const char* ClassName() const { return "TPersistent"; }

  protected:
    virtual void AssignTo(TPersistent* dest) const;
};
