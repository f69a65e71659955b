#pragma once
// The little component model the bridge's pieces share: an owner that frees
// what it owns, a name, a state word (designing, loading, destroying), the
// "streaming finished" notification and free notifications between
// components that refer to each other.
#include <QString>

#include <functional>
#include <vector>

namespace pybridge {

enum class TOperation { opInsert, opRemove };

class TComponent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    const QString& Name() const { return FName; }
    void SetName(const QString& AName) { FName = AName; }

    bool IsLoading() const { return FLoading; }
    bool IsDestroying() const { return FDestroying; }

    // Streaming-in: BeginLoading marks the component as loading, Loaded ends it.
    void BeginLoading() { FLoading = true; }
    virtual void Loaded() { FLoading = false; }

    const std::vector<TComponent*>& Components() const { return FComponents; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }

    // AComponent will tell this component (Notification with opRemove)
    // when it is destroyed.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Marks the component as being destroyed (the destructor chain has begun).
    void Destroying() { FDestroying = true; }

private:
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);

    TComponent* FOwner = nullptr;
    QString FName;
    bool FLoading = false;
    bool FDestroying = false;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

// Plain notify event (sender only).
using TNotifyEvent = std::function<void(TComponent* Sender)>;

} // namespace pybridge
