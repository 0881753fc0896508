#pragma once

#include "core/settings/PublishedObject.h"
#include "core/xml/XMLIntf.h"

#include <string>
#include <vector>

namespace ludex {

class TPropertyBailee;

// An object that keeps state in a settings store: told after a document has been loaded or
// created, and asked to write its state just before the store writes its file.
class IPropertyBaileeClient {
public:
    virtual ~IPropertyBaileeClient() = default;
    virtual void LoadSettings(TPropertyBailee& bailee) = 0;
    virtual void SaveSettings(TPropertyBailee& bailee) = 0;
};

// A small XML document in memory with a cursor (`Current`) moved by slash-separated paths.
// Values are attributes of the cursor element, always text; a group of values is an element;
// lists are sequences of child elements. Element and attribute names compare exactly.
//
// Paths: "/" is the root element (never named in a path), "/documents" its child `documents`;
// a path without the leading "/" starts at `Current`; ".." is the parent; a final "/" adds
// nothing, so "/a/b/" and "/a/b" are the same path. A missing element raises the general
// exception `Path "<path as given>" not found` (or is created, by ForcePath); after an error the
// cursor has not moved.
//
// The store also moves published properties between elements and objects (the second half of
// this class): loading applies whatever an element holds; saving copies the form's element from
// the stencil and fills in the current values, so the stencil decides what is kept.
//
// Clients are held by non-owning pointers: a client must either outlive the store or call
// RemoveClient before it is destroyed. Clients are told from the last registered to the first.
class TPropertyBailee {
public:
    TPropertyBailee();
    ~TPropertyBailee();
    TPropertyBailee(const TPropertyBailee&) = delete;
    TPropertyBailee& operator=(const TPropertyBailee&) = delete;

    // Loads the stencil (its errors propagate), then the settings file when it exists and holds
    // an element; otherwise starts an empty document whose root is named like the stencil's root
    // and remembers `settingsFileName` for Save. Clients are told once either way. Writes nothing.
    void Open(const std::string& settingsFileName, const std::string& stencilFileName);

    // Loads the file as the document, puts the cursor on its root and tells the clients. On any
    // error (missing file, parse error, a file without an element) the previous document, cursor
    // and file name stay as they were.
    void LoadFromFile(const std::string& fileName);

    // Loads the read-only stencil. A stencil without an element is an error.
    void LoadStencil(const std::string& fileName);

    // Replaces the document by an empty root element of that name; cursor on the root; clients
    // are not told.
    void CreateEmpty(const std::string& rootName);

    // Drops every value and element, the root's attributes included, keeping the root's name.
    // Does nothing while there is no document. Clients are not told.
    void Clear();

    // Asks the clients for their state, then writes the document to the file name of the last
    // Open or LoadFromFile: UTF-8, atomically (a failure leaves the old file), through a symbolic
    // link to its file and never over a read-only one, as WriteFileAtomically does. The settings
    // keep no backups: they are written at every close, and backups are for what the user writes.
    // Errors propagate; the document in memory stays as the clients left it.
    void Save();

    void OpenPath(const std::string& path);  // cursor := the element at path
    void ForcePath(const std::string& path); // the same, creating missing elements at the end

    bool HasValue(const std::string& name) const;
    std::string ReadValue(const std::string& name) const; // "" when absent
    std::string ReadValueDef(const std::string& name, const std::string& defaultValue) const;
    // Changes the attribute in place, or appends it after the existing ones. A name that cannot
    // be written as an XML attribute name is refused with an error, nothing changed.
    void WriteValue(const std::string& name, const std::string& value);

    void AddClient(IPropertyBaileeClient& client);
    void RemoveClient(IPropertyBaileeClient& client);
    void NotifyLoaded(); // LoadSettings on every client, last registered first

    // The absolute path of the cursor, always ending in "/": "/" for the root, "/a/b/" below.
    std::string CurrentPath() const;

    // Replaces the child of `Current` named like the stencil element at the absolute `path` by a
    // copy of that element, appended at the end; returns the copy.
    IXMLNodePtr CopyFromStencil(const std::string& path);

    // Appends to `parent` a copy of `source` with its attributes and descendants; returns it.
    // Every node of the source must be an element ("Only ntElement is supported at CopyNode");
    // the check happens before anything is appended.
    static IXMLNodePtr CopyNode(const IXMLNodePtr& source, const IXMLNodePtr& parent);

    const IXMLNodePtr& Current() const { return current_; }
    const IXMLNodePtr& Root() const { return root_; }
    const IXMLNodePtr& StencilRoot() const { return stencilRoot_; }
    const std::string& FileName() const { return fileName_; }
    const std::string& StencilFileName() const { return stencilFileName_; }

    // ---- Published properties ----

    // With the cursor on a form's element: each child element names a component of the form
    // (ASCII case ignored) or, exactly, the form itself, and is applied to it; other children are
    // skipped.
    void LoadComponentProperties(TPublishedObject& component);

    // Applies the element to the object: attributes are written as properties in document order
    // (unknown and unsupported properties are skipped; conversion errors propagate and end the
    // load); child elements name object-valued properties, loaded the same way, or string-list
    // properties, filled by FillStrings; other children are skipped.
    void LoadObjectProperties(TPublishedObject& object, const IXMLNodePtr& element);

    // "Mode" = "Replace": the child elements' "Value" texts replace the items one for one (the
    // counts must match, else the general exception
    // "TPropertyBailee.LoadObjectProperties.FillStrings - Replace mode are not allowed").
    // Otherwise the list becomes exactly the children's "Value" texts.
    void FillStrings(IPublishedStrings& list, const IXMLNodePtr& element);

    // Copies the form's element from the stencil under `Current` (replacing the previous copy)
    // and fills it with the current values. Each child names a component or the form itself
    // (else "SaveComponentProperties: Component does not exist: " + name); a form's element
    // marked "WindowPlacement" gets the placement instead of the marker.
    void SaveComponentProperties(TPublishedObject& form);

    // Sets every attribute of the element to the current value of the property of that name and
    // recurses into child elements through object-valued properties. Errors propagate.
    void SaveObjectProperties(TPublishedObject& object, const IXMLNodePtr& element);

    // Sets "Left", "Top", "Width", "Height" from the form's restored rectangle and "WindowState"
    // from its property of that name, in place or appended in this order.
    void SaveWindowPlacement(TPublishedObject& form, const IXMLNodePtr& element);

    // Sub-objects nest at most this deep below a component's element.
    static constexpr int kMaxObjectDepth = 32;

private:
    void LoadObjectPropertiesAt(TPublishedObject& object, const IXMLNodePtr& element, int depth);
    void SaveObjectPropertiesAt(TPublishedObject& object, const IXMLNodePtr& element, int depth);
    void InstallDocument(IXMLNodePtr root, const std::string& fileName);

    IXMLNodePtr root_;
    IXMLNodePtr stencilRoot_;
    IXMLNodePtr current_;
    std::vector<IPropertyBaileeClient*> clients_;
    std::string stencilFileName_;
    std::string fileName_;
};

} // namespace ludex
